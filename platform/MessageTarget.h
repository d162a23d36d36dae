#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace platform {

// Where a library posts its events for a host: the host's window on a desktop,
// a queue in tests and terminal hosts. Post is thread-safe and asynchronous: it
// only queues, the host handles the message on its own thread.
class MessageTarget {
  public:
    virtual void Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) = 0;

  protected:
    ~MessageTarget() = default;
};

struct PostedMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    uintptr_t lParam = 0;
};

// A message target that keeps the posted messages for whoever takes them.
class QueueMessageTarget final : public MessageTarget {
  public:
    void Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) override;

    // Waits at most timeoutMs for the next message.
    bool Take(PostedMessage& out, uint32_t timeoutMs);
    bool TryTake(PostedMessage& out);
    size_t Size() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<PostedMessage> queue_;
};

}  // namespace platform
