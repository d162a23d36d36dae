#include "ostra/norvikqos/core/cpCTimerManager.h"

#include <mutex>

#include "platform/EventLoop.h"

namespace {
cpCTimerManager* gInstance = nullptr;
}

cpCTimerManager::cpCTimerManager(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop)
    : lock_(std::move(lock)), loop_(loop) {
    gInstance = this;
    if (loop_) {
        ticking_ = loop_->StartTick(kTickMs, [this] {
            std::lock_guard guard(*lock_);
            Tick();
        });
    } else {
        ticking_ = true;
    }
}

cpCTimerManager::~cpCTimerManager() {
    if (loop_)
        loop_->StopTick();
    ticking_ = false;
    while (!registrations_.empty())
        registrations_.pop_back();
    tickCount_ = 1;
    if (gInstance == this)
        gInstance = nullptr;
}

cpCTimerManager* cpCTimerManager::Instance() {
    return gInstance;
}

void cpCTimerManager::Add(cpCTimer* timer, int32_t tag) {
    std::lock_guard guard(*lock_);
    auto registration = qvMakeObject<Registration>();
    registration->timer = timer;
    registration->tag = tag;
    registrations_.push_back(std::move(registration));
}

void cpCTimerManager::Remove(cpCTimer* timer) {
    std::lock_guard guard(*lock_);
    for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
        if ((*it)->timer == timer) {
            registrations_.erase(it);
            return;
        }
    }
}

void cpCTimerManager::Tick() {
    ++tickCount_;
    if (registrations_.empty())
        return;

    std::vector<qvSmartPtr<Registration>> snapshot;
    platform::WallTime now;
    {
        std::lock_guard guard(*lock_);
        if (!ticking_ || registrations_.empty())
            return;
        now = platform::Clock().Now();
        bool jumped = false;
        if (haveLastTick_) {
            const auto nowMs = static_cast<uint32_t>(now.seconds * 1000u + now.milliseconds);
            const auto lastMs =
                static_cast<uint32_t>(lastTick_.seconds * 1000u + lastTick_.milliseconds);
            const auto step = static_cast<int32_t>(nowMs - lastMs);
            jumped = step > kJumpMs || step < -kJumpMs;
        }
        lastTick_ = now;
        haveLastTick_ = true;
        snapshot = registrations_;
        if (jumped) {
            for (auto& registration : snapshot)
                registration->timer->Rearm(true);
        }
    }

    for (auto& registration : snapshot) {
        cpCTimer* timer = registration->timer.Get();
        if (timer->IsRunning() && timer->IsDue(now))
            timer->Fire();
    }
}
