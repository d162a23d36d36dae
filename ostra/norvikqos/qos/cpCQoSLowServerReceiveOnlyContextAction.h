#pragma once

#include "ostra/norvikqos/qos/cpCQoSLowServerContextAction.h"

// Receiving under the process-wide budget; sending unthrottled.
class cpCQoSLowServerReceiveOnlyContextAction final : public cpCQoSLowServerContextAction {
  public:
    using cpCQoSLowServerContextAction::cpCQoSLowServerContextAction;

    int32_t Type() const override { return cpQoSAction::kLowServerReceiveOnly; }
    uint32_t GrantSend(uint32_t n) override;
    void ReturnSend(uint32_t n) override;
};
