#pragma once

// The terminal view's message queue: posts from any thread land here and
// raise a wake-up signal the view waits on beside its input, so the view
// sleeps until either input or a message arrives.

#include <mutex>
#include <vector>

#include "platform/MessageTarget.h"
#include "platform/WakeSignal.h"

namespace launcher {

class CPostedQueue {
  public:
    CPostedQueue() = default;
    CPostedQueue(const CPostedQueue&) = delete;
    CPostedQueue& operator=(const CPostedQueue&) = delete;

    bool IsValid() const { return wake_.IsValid(); }
    // Readable while messages wait.
    int Fd() const { return wake_.Handle(); }

    // Thread-safe.
    void Post(const platform::PostedMessage& message);
    // Everything posted so far, in order; clears the wake-up.
    std::vector<platform::PostedMessage> TakeAll();

  private:
    platform::WakeSignal wake_;
    std::mutex mutex_;
    std::vector<platform::PostedMessage> queue_;
};

}  // namespace launcher
