#include "library/common/DeferredCall.h"

bool DeferredCall::Schedule(uint32_t delayMs, cpTimerCallback call, void* user) {
    Cancel();
    call_ = call;
    user_ = user;
    if (timer_.CreateInstance(qvClassId::kTimer) &&
        qv::Succeeded(timer_->Start(delayMs, &OnTimer, this, 0)))
        return true;
    timer_.Reset();
    return false;
}

void DeferredCall::Cancel() {
    if (!timer_)
        return;
    timer_->Stop();
    timer_.Reset();
}

void DeferredCall::OnTimer(void* self) {
    auto* deferred = static_cast<DeferredCall*>(self);
    // Stopped before the call, which may schedule again or destroy the owner.
    deferred->Cancel();
    deferred->call_(deferred->user_);
}
