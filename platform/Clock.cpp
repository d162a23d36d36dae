#include "platform/Clock.h"

#include <ctime>

namespace platform {
namespace {

class SystemClock final : public IClock {
  public:
    WallTime Now() const override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return WallTime{static_cast<uint32_t>(ts.tv_sec),
                        static_cast<uint16_t>(ts.tv_nsec / 1000000)};
    }
    uint32_t CalendarSeconds() const override { return static_cast<uint32_t>(time(nullptr)); }
};

const SystemClock gSystemClock;
std::atomic<const IClock*> gClock{&gSystemClock};

}  // namespace

int64_t ElapsedMs(const WallTime& then, const WallTime& now) {
    return (static_cast<int64_t>(now.seconds) * 1000 + now.milliseconds) -
           (static_cast<int64_t>(then.seconds) * 1000 + then.milliseconds);
}

const IClock& Clock() {
    return *gClock.load(std::memory_order_acquire);
}

void SetClock(const IClock* clock) {
    gClock.store(clock ? clock : &gSystemClock, std::memory_order_release);
}

ManualClock::ManualClock(uint32_t seconds, uint16_t milliseconds)
    : ms_(static_cast<int64_t>(seconds) * 1000 + milliseconds) {}

WallTime ManualClock::Now() const {
    const int64_t ms = ms_.load();
    return WallTime{static_cast<uint32_t>(ms / 1000), static_cast<uint16_t>(ms % 1000)};
}

uint32_t ManualClock::CalendarSeconds() const {
    return static_cast<uint32_t>(ms_.load() / 1000);
}

void ManualClock::Set(uint32_t seconds, uint16_t milliseconds) {
    ms_.store(static_cast<int64_t>(seconds) * 1000 + milliseconds);
}

void ManualClock::Advance(int64_t milliseconds) {
    ms_.fetch_add(milliseconds);
}

}  // namespace platform
