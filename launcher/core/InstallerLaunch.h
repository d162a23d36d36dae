#pragma once

// Starting the downloaded installer at the end of the download. Downloaded
// files carry no execute bit, so what the file is decides how it starts: a
// program or a script is made executable for its owner and started directly;
// anything else (a Windows program, a document) goes to the desktop's opener.

#include <string>
#include <string_view>

#include "launcher/core/IMessageBox.h"
#include "platform/InstallerStart.h"

namespace launcher {

enum class InstallerKind { kElf, kScript, kOther };

// From the first bytes of the file: "\x7f" "ELF" or "#!".
InstallerKind ClassifyInstaller(std::string_view head);
// The same from the file itself; kOther when it cannot be read.
InstallerKind ClassifyInstallerFile(const std::string& path);

// "해당 경로(<path>)에 파일이 존재 하지 않습니다.", with "NULL" for an empty path.
std::string MissingInstallerText(std::string_view path);

// Starts the installer at path. An empty or missing path (or one that is no
// regular file of its own, such as a folder or a link) is reported on box
// under caption (boxes without an owner: this runs on the installer thread).
// A program or script is started with posix_spawn and counts as started once
// it runs; other files are handed to xdg-open, which is waited for and must
// succeed. True when a process was started. For a directly started program,
// *spawned (when given) receives its process id so the caller may reap it;
// it is -1 otherwise.
bool LaunchInstaller(const std::string& path, std::string_view caption, IMessageBox& box,
                     platform::ProcessId* spawned = nullptr);

}  // namespace launcher
