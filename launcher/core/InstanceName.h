#pragma once

// The name that keeps two launchers for the same file list from running at
// once, and the lock file and local socket derived from it.

#include <string>
#include <string_view>

namespace launcher {

// "TVXDownloadV3::<file-list URL>", cut to its first 260 characters.
std::string SingleInstanceName(std::string_view fileListUrl);

// A file-name-safe stand-in for the name: "TVXDownloadV3-<uid>-<16 hex
// digits of a 64-bit FNV-1a hash>". The user id keeps users sharing /tmp
// apart.
std::string InstanceKey(std::string_view name, unsigned uid);

// <runtime folder><key>.lock and <runtime folder><key>.sock.
std::string InstanceLockPath(std::string_view runtimeFolder, std::string_view key);
std::string InstanceSocketPath(std::string_view runtimeFolder, std::string_view key);

}  // namespace launcher
