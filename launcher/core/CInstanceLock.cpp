#include "launcher/core/CInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace launcher {

CInstanceLock::~CInstanceLock() {
    if (fd_ >= 0)
        close(fd_);
}

LockResult CInstanceLock::Acquire(const std::string& lockPath) {
    if (fd_ >= 0)
        return LockResult::kAcquired;
    // Close-on-exec: the installer started at the end must not inherit the
    // lock and keep the next launcher out while it runs. No links followed,
    // since the fallback folder /tmp is shared.
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return LockResult::kFailed;
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? LockResult::kHeld : LockResult::kFailed;
    }
    fd_ = fd;
    return LockResult::kAcquired;
}

}  // namespace launcher
