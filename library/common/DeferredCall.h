#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

// Runs a call once, from a later timer pass on the worker thread: for work that
// must not happen inside the caller's own call (a session must not report to
// its owner from inside the owner's Start). Cancelled when it goes.
class DeferredCall {
  public:
    DeferredCall() = default;
    ~DeferredCall() { Cancel(); }
    DeferredCall(const DeferredCall&) = delete;
    DeferredCall& operator=(const DeferredCall&) = delete;

    // False when no timer could be started; the caller then runs it itself.
    bool Schedule(uint32_t delayMs, cpTimerCallback call, void* user);
    void Cancel();
    bool Pending() const { return static_cast<bool>(timer_); }

  private:
    static void OnTimer(void* self);

    qvSmartPtr<cpCTimer> timer_;
    cpTimerCallback call_ = nullptr;
    void* user_ = nullptr;
};
