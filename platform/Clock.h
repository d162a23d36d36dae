#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// Wall-clock time as whole seconds since the epoch plus milliseconds. Timers and
// rate meters schedule on it; it may jump when the user changes the clock.
struct WallTime {
    uint32_t seconds = 0;
    uint16_t milliseconds = 0;
};

// (now - then) in milliseconds.
int64_t ElapsedMs(const WallTime& then, const WallTime& now);

class IClock {
  public:
    virtual ~IClock() = default;
    virtual WallTime Now() const = 0;
    // Calendar time in whole seconds (deferred release, address cache).
    virtual uint32_t CalendarSeconds() const = 0;
};

// The clock every component reads. Tests install their own with SetClock.
const IClock& Clock();

// Installs a clock for the whole process; nullptr restores the system clock.
// The caller keeps ownership and must outlive every reader.
void SetClock(const IClock* clock);

// A clock that moves only when told to; thread-safe.
class ManualClock final : public IClock {
  public:
    explicit ManualClock(uint32_t seconds = 1000000, uint16_t milliseconds = 0);

    WallTime Now() const override;
    uint32_t CalendarSeconds() const override;

    void Set(uint32_t seconds, uint16_t milliseconds);
    void Advance(int64_t milliseconds);  // may be negative

  private:
    std::atomic<int64_t> ms_;
};

// Installs a ManualClock for the lifetime of the scope.
class ScopedManualClock {
  public:
    explicit ScopedManualClock(uint32_t seconds = 1000000, uint16_t milliseconds = 0)
        : clock_(seconds, milliseconds) {
        SetClock(&clock_);
    }
    ~ScopedManualClock() { SetClock(nullptr); }
    ScopedManualClock(const ScopedManualClock&) = delete;
    ScopedManualClock& operator=(const ScopedManualClock&) = delete;

    ManualClock& operator*() { return clock_; }
    ManualClock* operator->() { return &clock_; }

  private:
    ManualClock clock_;
};

}  // namespace platform
