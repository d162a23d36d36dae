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
    bool ReceivesInto() const override { return true; }
    bool ReceiveInto(uint8_t* target, uint32_t room, uint32_t& received) override;
    bool TakeSendBlocked() override { return false; }
    bool TakeReceiveBlocked() override { return false; }
};
