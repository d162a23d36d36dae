#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace platform {

// Receives the readiness of one watched descriptor (epoll event bits).
class IFdHandler {
  public:
    virtual void OnFdReady(uint32_t events) = 0;

  protected:
    ~IFdHandler() = default;
};

// One epoll loop per thread. Posted tasks and the quit request wake it through
// an eventfd; the periodic tick is a timerfd in the same loop. Nothing here
// blocks except the wait for the next event.
//
// Watch, Rewatch, Unwatch, StartTick and StopTick belong to the loop's own
// thread; Post and Quit may be called from any thread.
class EventLoop {
  public:
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // False when the kernel refused the epoll or eventfd descriptor.
    bool IsValid() const { return epoll_ >= 0 && wake_ >= 0; }

    bool Watch(int fd, uint32_t events, IFdHandler* handler);
    bool Rewatch(int fd, uint32_t events, IFdHandler* handler);
    // On the loop's thread, events of this batch not yet delivered to the
    // handler are dropped, so a handler may be destroyed right after it was
    // unwatched. From another thread only the kernel registration is removed.
    void Unwatch(int fd, IFdHandler* handler);

    void Post(std::function<void()> task);
    void Quit();

    // Handles events until Quit() or until keepRunning (tested after every
    // batch of events) answers false. Binds the loop to the calling thread.
    void Run(const std::function<bool()>& keepRunning = {});
    // One wait of at most timeoutMs (-1: unbounded) and its handling; for tests
    // and for hosts that drive the loop themselves. False once Quit() was seen.
    bool RunOnce(int timeoutMs);

    // A fixed-period tick; a tick that comes late is delivered once, never in a burst.
    bool StartTick(uint32_t periodMs, std::function<void()> onTick);
    void StopTick();
    bool TickRunning() const { return tick_ >= 0; }

    // The loop running on the calling thread, or nullptr.
    static EventLoop* Current();

  private:
    void DrainPosted();
    void HandleTick();

    static constexpr int kBatch = 64;
    struct epoll_event_slot {
        uint32_t events;
        uint64_t data;
    };
    epoll_event_slot batch_[kBatch] = {};
    int batchEnd_ = 0;
    int batchPos_ = 0;

    int epoll_ = -1;
    int wake_ = -1;
    int tick_ = -1;
    std::function<void()> onTick_;
    bool quit_ = false;

    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
    bool quitRequested_ = false;
};

}  // namespace platform
