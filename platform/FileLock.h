#pragma once

#include <string>

namespace platform {

// An exclusive lock on a lock file, held for the life of the object (the
// system drops it when the process ends in any way, so a crashed holder never
// blocks the next one). The file is not inherited by programs started later.
class FileLock {
  public:
    enum class Result {
        kAcquired,  // this process holds it
        kHeld,      // another live process holds it
        kFailed,    // the lock file could not be opened or locked
    };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens (creating it, mode 0600, without following a link) and locks
    // the file, without waiting.
    Result TryAcquire(const std::string& path);
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace platform
