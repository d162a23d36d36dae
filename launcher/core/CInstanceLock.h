#pragma once

// The single-instance lock: an flock on a lock file, held for the life of the
// process. The kernel drops it when the process ends in any way, so a crashed
// launcher never blocks the next one.

#include <string>

namespace launcher {

enum class LockResult {
    kAcquired,  // this process is the only launcher for the name
    kHeld,      // another live process holds it
    kFailed,    // the lock file could not be used; go on as if alone
};

class CInstanceLock {
  public:
    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Opens (creating it when needed) and locks the file, without waiting.
    LockResult Acquire(const std::string& lockPath);
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace launcher
