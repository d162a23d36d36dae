#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

std::atomic<FreeBytesProbe> gFreeBytesProbe{nullptr};

int64_t StatvfsFreeBytes(std::string path) {
    if (path.empty())
        return 0;
    // Walk up to the nearest ancestor that exists.
    for (;;) {
        struct statvfs st {};
        if (statvfs(path.c_str(), &st) == 0)
            return static_cast<int64_t>(st.f_bfree) * static_cast<int64_t>(st.f_frsize);
        if (errno != ENOENT && errno != ENOTDIR)
            return 0;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return 0;
        path.resize(slash == 0 ? 1 : slash);
    }
}

}  // namespace

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path) {
    if (path.empty())
        return false;
    if (mkdir(path.c_str(), 0755) == 0)
        return true;
    return errno == EEXIST && IsDirectory(path);
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool MakeDirectoryPath(const std::string& path, uint32_t mode) {
    if (path.empty())
        return false;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
            return false;
    }
    if (path.back() != '/' && mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0 &&
        errno != EEXIST)
        return false;
    return IsDirectory(path);
}

bool ReplaceFileContents(const std::string& path, std::string_view contents) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool written = done == contents.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

int64_t RegularFileSize(const std::string& path) {
    struct stat st {};
    if (path.empty() || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t FreeBytes(const std::string& path) {
    if (FreeBytesProbe probe = gFreeBytesProbe.load())
        return probe(path);
    return StatvfsFreeBytes(path);
}

void SetFreeBytesProbe(FreeBytesProbe probe) {
    gFreeBytesProbe.store(probe);
}

}  // namespace platform
