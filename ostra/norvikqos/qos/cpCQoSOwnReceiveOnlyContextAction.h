#pragma once

#include "ostra/norvikqos/qos/cpCQoSOwnContextAction.h"

// Receiving under the action's own limit; sending unthrottled.
class cpCQoSOwnReceiveOnlyContextAction final : public cpCQoSOwnContextAction {
  public:
    using cpCQoSOwnContextAction::cpCQoSOwnContextAction;

    int32_t Type() const override { return cpQoSAction::kOwnReceiveOnly; }
    uint32_t GrantSend(uint32_t n) override;
    void ReturnSend(uint32_t n) override;
};
