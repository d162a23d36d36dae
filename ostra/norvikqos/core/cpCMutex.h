#pragma once

#include <mutex>

#include "ostra/norvikqos/object/qvIUnknown.h"

// The engine lock: one recursive mutex that serialises every network object and
// every job-manager operation between the worker thread and the host's threads.
// Its count is atomic because both threads drop references to it.
class cpCMutex : public qvTAtomicUnknown<qvIUnknown> {
  public:
    qvResult SetAttribute(uint32_t value) {
        attribute_ = value;
        return qv::kOk;
    }
    qvResult Lock() {
        mutex_.lock();
        return qv::kOk;
    }
    qvResult Unlock() {
        mutex_.unlock();
        return qv::kOk;
    }
    // BasicLockable, for std::lock_guard and std::unique_lock.
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

  private:
    uint32_t attribute_ = 0;
    std::recursive_mutex mutex_;
};
