#include "platform/MessageTarget.h"

#include <chrono>

namespace platform {

void QueueMessageTarget::Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(PostedMessage{message, wParam, lParam});
    }
    cv_.notify_one();
}

bool QueueMessageTarget::Take(PostedMessage& out, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [this] { return !queue_.empty(); }))
        return false;
    out = queue_.front();
    queue_.pop_front();
    return true;
}

bool QueueMessageTarget::TryTake(PostedMessage& out) {
    return Take(out, 0);
}

size_t QueueMessageTarget::Size() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace platform
