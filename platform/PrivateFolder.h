#pragma once

#include <string>

// Folders no other user can write into, for the files the program makes for
// itself: the skin's pictures, the single-instance lock and its socket. Every
// folder returned ends in "/"; empty when none could be had.
namespace platform {

// The process's temporary folder: $XDG_RUNTIME_DIR when it is set and
// private (owned by the user, writable by nobody else), else a new folder
// made with mkdtemp under $TMPDIR or /tmp, mode 0700, removed with its
// contents when the process ends. Made once per process.
std::string PrivateTempFolder();

// A folder that is the same for every process of the user:
// $XDG_RUNTIME_DIR when it is set and private, else the folder
// "TVXDownload/" in the user's cache folder ($XDG_CACHE_HOME, else
// ~/.cache/), made with mode 0700 and used only while it is a real folder of
// the user that nobody else can write. Never a name in a shared folder, which
// another user could take first.
std::string UserRuntimeFolder();

// Whether path is a real folder (not a symbolic link) that belongs to this
// process's user and that no other user may write into.
bool IsPrivateFolder(const std::string& path);

}  // namespace platform
