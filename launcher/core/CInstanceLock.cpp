#include "launcher/core/CInstanceLock.h"

namespace launcher {

LockResult CInstanceLock::Acquire(const std::string& lockPath) {
    // A lock file only counts in a folder of the user's own: in a folder
    // others can write, another user could take the name first and keep
    // every launcher out.
    if (lockPath.empty() || lockPath.front() != '/')
        return LockResult::kFailed;
    switch (lock_.TryAcquire(lockPath)) {
        case platform::FileLock::Result::kAcquired:
            return LockResult::kAcquired;
        case platform::FileLock::Result::kHeld:
            return LockResult::kHeld;
        case platform::FileLock::Result::kFailed:
            break;
    }
    return LockResult::kFailed;
}

}  // namespace launcher
