#pragma once

// The remembered download folder: one "name=folder" line per folder name in
// an INI file of the user's configuration, for the publisher's tools to find.
// The launcher writes it at every start and never reads it back.

#include <string>
#include <string_view>

namespace launcher {

// $XDG_CONFIG_HOME (else ~/.config) + "Velmora Inc./DownloadPath.ini"; empty
// without a configuration folder.
std::string DownloadPathIniPath();

// The INI text with key set to value: an existing line for key is replaced,
// every other line is kept, a missing key is appended.
std::string IniWithValue(std::string_view iniText, std::string_view key, std::string_view value);

// Writes folder under folderName into the file at iniPath (replacing it whole,
// so a reader never sees half a file). False when it could not be written or
// the name or folder cannot be stored on one line; callers ignore failures.
bool RememberFolderIn(const std::string& iniPath, std::string_view folderName,
                      std::string_view folder);
bool RememberFolder(std::string_view folderName, std::string_view folder);

}  // namespace launcher
