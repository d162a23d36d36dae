#pragma once

#include "ostra/norvikqos/qos/cpCQoSOwnContextAction.h"

// Sending under the action's own limit; receiving unthrottled.
class cpCQoSOwnSendOnlyContextAction final : public cpCQoSOwnContextAction {
  public:
    using cpCQoSOwnContextAction::cpCQoSOwnContextAction;

    int32_t Type() const override { return cpQoSAction::kOwnSendOnly; }
    uint32_t GrantReceive(uint32_t n) override;
    void ReturnReceive(uint32_t n) override;
};
