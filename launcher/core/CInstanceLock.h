#pragma once

// The single-instance lock: an flock on a lock file, held for the life of the
// process. The kernel drops it when the process ends in any way, so a crashed
// launcher never blocks the next one.

#include <string>

#include "platform/FileLock.h"

namespace launcher {

enum class LockResult {
    kAcquired,  // this process is the only launcher for the name
    kHeld,      // another live process holds it
    kFailed,    // the lock file could not be used; go on as if alone
};

class CInstanceLock {
  public:
    CInstanceLock() = default;
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Opens (creating it when needed) and locks the file, without waiting.
    // lockPath is an absolute path in a folder of the user's own; anything
    // else fails.
    LockResult Acquire(const std::string& lockPath);
    bool Held() const { return lock_.Held(); }

  private:
    platform::FileLock lock_;
};

}  // namespace launcher
