#pragma once

#include "ostra/norvikqos/qos/cpCQoSContextAction.h"

// Unthrottled I/O: reads until the socket has nothing more (or the buffer holds
// more than the per-event limit) and sends until the socket refuses.
class cpCQoSHighContextAction final : public cpCQoSContextAction {
  public:
    using cpCQoSContextAction::cpCQoSContextAction;

    int32_t Type() const override { return cpQoSAction::kHigh; }
    uint32_t ReceivePump() override;
    bool SendPump(int32_t& sent) override;
    bool TakeSendBlocked() override { return false; }
    bool TakeReceiveBlocked() override { return false; }
};
