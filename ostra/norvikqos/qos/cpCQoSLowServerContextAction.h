#pragma once

#include "ostra/norvikqos/qos/cpCQoSLowContextAction.h"

// Budgeted in both directions by the process-wide budgets of cpCQoS, which all
// contexts of types 2-4 share and which cpCQoS refills once a second. Without
// a running cpCQoS nothing is granted.
class cpCQoSLowServerContextAction : public cpCQoSLowContextAction {
  public:
    using cpCQoSLowContextAction::cpCQoSLowContextAction;

    int32_t Type() const override { return cpQoSAction::kLowServer; }
    uint32_t GrantReceive(uint32_t n) override;
    uint32_t GrantSend(uint32_t n) override;
    void ReturnReceive(uint32_t n) override;
    void ReturnSend(uint32_t n) override;

  protected:
    static uint32_t ProcessGrant(uint32_t n, uint32_t budget, uint32_t& used);
    static void ProcessReturn(uint32_t n, uint32_t& used);
};
