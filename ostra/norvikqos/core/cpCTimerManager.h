#pragma once

#include <cstdint>
#include <vector>

#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "platform/Clock.h"

namespace platform {
class EventLoop;
}

// Schedules every cpCTimer of the process from one 100 ms platform tick; there is
// no platform timer per cpCTimer. One instance per process, made by COstra.
class cpCTimerManager {
  public:
    static constexpr uint32_t kTickMs = 100;
    // A wall-clock step larger than this between two ticks re-anchors every timer.
    static constexpr int32_t kJumpMs = 2999;

    // With a loop, the manager starts the platform tick in it and runs a pass on
    // every tick under the engine lock; without one, whoever owns the manager
    // calls Tick() (tests drive time this way).
    cpCTimerManager(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop);
    ~cpCTimerManager();
    cpCTimerManager(const cpCTimerManager&) = delete;
    cpCTimerManager& operator=(const cpCTimerManager&) = delete;

    static cpCTimerManager* Instance();

    void Add(cpCTimer* timer, int32_t tag);
    void Remove(cpCTimer* timer);

    // One pass: fires every due timer once. The caller holds the engine lock.
    void Tick();

    uint32_t TickCount() const { return tickCount_; }
    size_t RegistrationCount() const { return registrations_.size(); }

  private:
    struct Registration : qvCUnknown {
        qvSmartPtr<cpCTimer> timer;
        int32_t tag = 0;
    };

    qvSmartPtr<cpCMutex> lock_;
    platform::EventLoop* loop_ = nullptr;
    bool ticking_ = false;
    std::vector<qvSmartPtr<Registration>> registrations_;
    platform::WallTime lastTick_;
    bool haveLastTick_ = false;
    uint32_t tickCount_ = 1;
};
