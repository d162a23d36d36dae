#pragma once

#include <cstdint>

#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "platform/Clock.h"

using cpTimerCallback = void (*)(void* user);

// Tags the timer manager stores with each registration (it never reads them).
namespace cpTimerTag {
constexpr int32_t kDeferredRelease = 0x1000001;
constexpr int32_t kBandwidthSecond = 0x1000002;
constexpr int32_t kConnectionTimeouts = 0x1000003;
constexpr int32_t kEngineDownloader = -1;
}  // namespace cpTimerTag

// A periodic timer scheduled by the process-wide cpCTimerManager on its 100 ms
// tick. Its n-th firing is due at anchor + n * interval, so the schedule does
// not drift with tick jitter. One-shot use: the callback stops its own timer.
class cpCTimer : public qvTUnknown<qvIUnknown> {
  public:
    ~cpCTimer() override;

    // Stores the callback, holds owner (the engine lock, or nothing) for as long
    // as the timer exists, re-anchors at now and registers with the manager.
    // Fails when no timer manager runs.
    qvResult Start(uint32_t intervalMs, cpTimerCallback callback, void* user, int32_t tag,
                   qvSmartPtr<> owner = {});
    // Unregisters and clears the callback: a stopped timer never fires, not even
    // from a pass that is already running.
    qvResult Stop();
    // Re-anchors at the current time.
    qvResult Restart();

    bool IsRunning() const { return callback_ != nullptr; }
    platform::WallTime Due() const { return due_; }

  private:
    friend class cpCTimerManager;

    void Rearm(bool restart);
    // Called by the manager's pass when the timer is due.
    void Fire();
    bool IsDue(const platform::WallTime& now) const;

    cpTimerCallback callback_ = nullptr;
    void* user_ = nullptr;
    platform::WallTime due_;
    platform::WallTime anchor_;
    uint32_t interval_ = 0;
    qvSmartPtr<> owner_;
    uint32_t fireCount_ = 0;
};
