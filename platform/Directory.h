#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileHandle.h"

namespace platform {

// A folder held open, and the work done inside it relative to that handle:
// no name below it is looked up again from the root, and no symbolic link
// below it is ever followed, so another user who can change the path around
// it cannot redirect a write, a mode change or a removal to a file of ours.
//
// Names handed to the operations are single components ("pic.jpg"), except
// for Descend, which walks a relative path of them.
class Directory {
  public:
    Directory() = default;
    ~Directory();
    Directory(Directory&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // Opens a folder by its path (links along the path are the caller's own
    // choice and are followed). Invalid when it is no folder.
    static Directory Open(const std::string& path);

    bool IsValid() const { return fd_ >= 0; }

    // True when the folder belongs to this process's user and nobody else
    // may write into it (no group or other write permission).
    bool IsPrivate() const;

    // The folder name below this one; created (mode 0700) when missing and
    // create is set. Invalid when it is anything but a real folder (a
    // symbolic link included) or cannot be made.
    Directory Subfolder(std::string_view name, bool create) const;
    // The same along a relative path of names separated by "/" (empty names
    // and "." skipped; ".." refused).
    Directory Descend(std::string_view relative, bool create) const;

    // A new file name for writing with permission bits mode (before the
    // umask). An existing file of that name is replaced, unless it is a
    // folder or has no owner write permission (then: invalid, and it stays);
    // a symbolic link of that name is removed, never followed.
    FileHandle CreateFile(std::string_view name, uint32_t mode) const;

    // Gives the owner write permission on the regular file name when it has
    // none; a link, a folder or another user's file is left alone. True when
    // name is now writable by its owner or does not exist.
    bool MakeWritable(std::string_view name) const;

    // Removes the file (or link) name; false when it is a folder or missing.
    bool Remove(std::string_view name) const;
    // Removes name with everything below it (links are removed, never
    // followed). True when nothing of it is left.
    bool RemoveTree(std::string_view name) const;

  private:
    explicit Directory(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace platform
