#include "platform/Event.h"

#include <chrono>

namespace platform {

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

bool Event::Wait(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

}  // namespace platform
