#pragma once

#include <string>

// Well-known folders. Every folder returned ends in "/"; an empty string means
// the folder could not be determined.
namespace platform {

// Per-user application data: $XDG_DATA_HOME, else $HOME/.local/share; empty
// when neither is set.
std::string AppDataFolder();
// Per-user configuration: $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigFolder();
// $HOME.
std::string HomeFolder();
// $TMPDIR, else /tmp/.
std::string TempFolder();
// The current folder of the process.
std::string CurrentFolder();
// The folder of the running executable.
std::string ExecutableFolder();
// The full path of the running executable.
std::string ExecutablePath();
// The install prefix: /opt/Velmora/ when the program runs from below it, else
// the executable's folder.
std::string ProgramFolder();

// Appends "/" unless the text already ends in one (empty stays empty).
std::string WithTrailingSlash(std::string folder);

}  // namespace platform
