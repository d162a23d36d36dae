#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

FileLock::Result FileLock::TryAcquire(const std::string& path) {
    if (fd_ >= 0)
        return Result::kAcquired;
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return Result::kFailed;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Result::kHeld : Result::kFailed;
    }
    fd_ = fd;
    return Result::kAcquired;
}

}  // namespace platform
