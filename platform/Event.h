#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

// An auto-reset event: Set() releases one Wait(), after which the event is
// unsignalled again. Used for start-up handshakes between threads.
class Event {
  public:
    void Set();
    // True when the event was signalled within timeoutMs.
    bool Wait(uint32_t timeoutMs);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace platform
