#include "launcher/app/CPostedQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace launcher {

CPostedQueue::CPostedQueue() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CPostedQueue::~CPostedQueue() {
    if (fd_ >= 0)
        ::close(fd_);
}

void CPostedQueue::Post(const platform::PostedMessage& message) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(message);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

std::vector<platform::PostedMessage> CPostedQueue::TakeAll() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    std::lock_guard lock(mutex_);
    std::vector<platform::PostedMessage> out;
    out.swap(queue_);
    return out;
}

}  // namespace launcher
