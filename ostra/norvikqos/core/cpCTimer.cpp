#include "ostra/norvikqos/core/cpCTimer.h"

#include "ostra/norvikqos/core/cpCTimerManager.h"

cpCTimer::~cpCTimer() = default;

qvResult cpCTimer::Start(uint32_t intervalMs, cpTimerCallback callback, void* user, int32_t tag,
                         qvSmartPtr<> owner) {
    cpCTimerManager* manager = cpCTimerManager::Instance();
    if (!manager || !callback)
        return qv::kFail;
    interval_ = intervalMs;
    callback_ = callback;
    user_ = user;
    owner_ = std::move(owner);
    Rearm(true);
    manager->Add(this, tag);
    return qv::kOk;
}

qvResult cpCTimer::Stop() {
    if (cpCTimerManager* manager = cpCTimerManager::Instance())
        manager->Remove(this);
    due_ = {};
    callback_ = nullptr;
    return qv::kOk;
}

qvResult cpCTimer::Restart() {
    Rearm(true);
    return qv::kOk;
}

void cpCTimer::Rearm(bool restart) {
    if (restart) {
        anchor_ = platform::Clock().Now();
        fireCount_ = 1;
    } else {
        ++fireCount_;
    }
    // 64-bit: interval x count passes 32 bits after 49.7 days of a one-second
    // timer, and a wrapped offset would put every later firing in the past.
    const uint64_t t = anchor_.milliseconds + uint64_t{interval_} * fireCount_;
    due_.seconds = anchor_.seconds + static_cast<uint32_t>(t / 1000);
    due_.milliseconds = static_cast<uint16_t>(t % 1000);
}

bool cpCTimer::IsDue(const platform::WallTime& now) const {
    return now.seconds > due_.seconds ||
           (now.seconds == due_.seconds && now.milliseconds + 10 >= due_.milliseconds);
}

void cpCTimer::Fire() {
    if (!callback_)
        return;
    Rearm(false);
    callback_(user_);
}
