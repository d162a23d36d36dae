#include "platform/Directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace platform {
namespace {

// A single component that stays in its folder.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

Directory::~Directory() {
    if (fd_ >= 0)
        ::close(fd_);
}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Directory Directory::Open(const std::string& path) {
    if (path.empty())
        return Directory();
    return Directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool Directory::IsPrivate() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Directory Directory::Subfolder(std::string_view name, bool create) const {
    if (fd_ < 0 || !IsPlainName(name))
        return Directory();
    const std::string n(name);
    if (create && ::mkdirat(fd_, n.c_str(), 0700) != 0 && errno != EEXIST)
        return Directory();
    // O_NOFOLLOW with O_DIRECTORY: a link in the folder's place is refused.
    return Directory(::openat(fd_, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Directory Directory::Descend(std::string_view relative, bool create) const {
    if (fd_ < 0)
        return Directory();
    Directory current(::fcntl(fd_, F_DUPFD_CLOEXEC, 0));
    while (current.IsValid() && !relative.empty()) {
        const size_t slash = relative.find('/');
        const std::string_view name = relative.substr(0, slash);
        relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
        if (name.empty() || name == ".")
            continue;
        current = current.Subfolder(name, create);
    }
    return current;
}

FileHandle Directory::CreateFile(std::string_view name, uint32_t mode) const {
    if (fd_ < 0 || !IsPlainName(name))
        return FileHandle();
    const std::string n(name);
    struct stat st {};
    if (::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode))
            return FileHandle();
        if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            return FileHandle();
        if (::unlinkat(fd_, n.c_str(), 0) != 0)
            return FileHandle();
    }
    // O_EXCL: whatever appears under the name after the removal is not
    // opened; O_NOFOLLOW for the same reason.
    return FileHandle(::openat(fd_, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               static_cast<mode_t>(mode & 07777)));
}

bool Directory::MakeWritable(std::string_view name) const {
    if (fd_ < 0 || !IsPlainName(name))
        return false;
    const std::string n(name);
    // The mode is changed through a handle of the file itself, opened without
    // following a link and without blocking on a FIFO: the file checked is the
    // file changed.
    const int file = ::openat(fd_, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        return errno == ENOENT;
    struct stat st {};
    bool ok = false;
    if (::fstat(file, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
        ok = (st.st_mode & S_IWUSR) || ::fchmod(file, (st.st_mode & 07777) | S_IWUSR) == 0;
    ::close(file);
    return ok;
}

bool Directory::Remove(std::string_view name) const {
    if (fd_ < 0 || !IsPlainName(name))
        return false;
    return ::unlinkat(fd_, std::string(name).c_str(), 0) == 0;
}

bool Directory::RemoveTree(std::string_view name) const {
    if (fd_ < 0 || !IsPlainName(name))
        return false;
    const std::string n(name);
    if (::unlinkat(fd_, n.c_str(), 0) == 0 || errno == ENOENT)
        return true;
    Directory sub = Subfolder(name, false);
    if (!sub.IsValid())
        return false;
    // The names first, then the removals: the listing is not changed under
    // the reader.
    std::vector<std::string> names;
    const int listing = ::fcntl(sub.fd_, F_DUPFD_CLOEXEC, 0);
    if (DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view entryName(entry->d_name);
            if (entryName != "." && entryName != "..")
                names.emplace_back(entryName);
        }
        ::closedir(dir);
    } else if (listing >= 0) {
        ::close(listing);
    }
    for (const std::string& entry : names)
        sub.RemoveTree(entry);
    return ::unlinkat(fd_, n.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace platform
