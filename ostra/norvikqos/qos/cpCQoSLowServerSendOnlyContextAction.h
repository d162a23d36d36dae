#pragma once

#include "ostra/norvikqos/qos/cpCQoSLowServerContextAction.h"

// Sending under the process-wide budget; receiving unthrottled.
class cpCQoSLowServerSendOnlyContextAction final : public cpCQoSLowServerContextAction {
  public:
    using cpCQoSLowServerContextAction::cpCQoSLowServerContextAction;

    int32_t Type() const override { return cpQoSAction::kLowServerSendOnly; }
    uint32_t GrantReceive(uint32_t n) override;
    void ReturnReceive(uint32_t n) override;
};
