#include "launcher/app/CPostedQueue.h"

namespace launcher {

void CPostedQueue::Post(const platform::PostedMessage& message) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(message);
    }
    wake_.Raise();
}

std::vector<platform::PostedMessage> CPostedQueue::TakeAll() {
    wake_.Clear();
    std::lock_guard lock(mutex_);
    std::vector<platform::PostedMessage> out;
    out.swap(queue_);
    return out;
}

}  // namespace launcher
