#pragma once

// The folder rules applied to this machine: the program folder and the
// user's home as the system reports them.

#include <string>
#include <string_view>

namespace launcher {

// The install prefix (/opt/Velmora/ when installed there, else the folder of
// the executable), ending in "/".
std::string ProgramFolder();

// The engine path below the program folder; its folder is refused as a
// download folder.
std::string ProgramEnginePath();

// ~/Download/<folder name>/; empty when there is no home folder.
std::string DefaultDownloadFolderFor(std::string_view folderName);

// The folder with every symbolic link resolved (as far as it exists; the
// missing rest is appended as written), ending in "/". Empty when nothing of
// it can be resolved.
std::string ResolvedFolder(const std::string& folder);

}  // namespace launcher
