#pragma once

// The terminal view's message queue: posts from any thread land here and
// wake the view's poll through an eventfd, so the view sleeps until either
// input or a message arrives.

#include <mutex>
#include <vector>

#include "platform/MessageTarget.h"

namespace launcher {

class CPostedQueue {
  public:
    CPostedQueue();
    ~CPostedQueue();
    CPostedQueue(const CPostedQueue&) = delete;
    CPostedQueue& operator=(const CPostedQueue&) = delete;

    bool IsValid() const { return fd_ >= 0; }
    // Readable while messages wait.
    int Fd() const { return fd_; }

    // Thread-safe.
    void Post(const platform::PostedMessage& message);
    // Everything posted so far, in order; clears the wake-up.
    std::vector<platform::PostedMessage> TakeAll();

  private:
    int fd_ = -1;
    std::mutex mutex_;
    std::vector<platform::PostedMessage> queue_;
};

}  // namespace launcher
