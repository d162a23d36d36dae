#pragma once

#include "ostra/norvikqos/qos/cpCQoSLowContextAction.h"

// Budgeted in both directions by limits of its own, set through the context's
// SetActionParameter and renewed by the context's once-a-second step. Limits
// and budgets start at 0, and with a limit of 0 nothing ever moves. The first
// limit set is granted at once for the part of the second that is left; a
// later change counts from the next refill.
class cpCQoSOwnContextAction : public cpCQoSLowContextAction {
  public:
    // One direction, in bytes.
    struct Budget {
        uint32_t limit = 0;   // per second
        uint32_t budget = 0;  // left in the current second
        uint32_t used = 0;    // granted in the current second
        bool limitSet = false;

        uint32_t Grant(uint32_t n);
        void Return(uint32_t n);
        void SetLimit(uint32_t value);
        // Adds the second's use to total and starts the next second.
        void Refill(uint32_t& total);
    };

    using cpCQoSLowContextAction::cpCQoSLowContextAction;

    int32_t Type() const override { return cpQoSAction::kOwn; }
    void SetParameter(int32_t direction, const uint32_t& value) override;
    void PerSecond(cpQoSTotals& totals) override;
    // A sixty-fourth of the limit, between 1024 bytes and the large block: small
    // limits keep their 1024-byte grants, high ones save system calls.
    uint32_t ReceiveBlock() const override;
    uint32_t GrantReceive(uint32_t n) override;
    uint32_t GrantSend(uint32_t n) override;
    void ReturnReceive(uint32_t n) override;
    void ReturnSend(uint32_t n) override;

    const Budget& ReceiveBudget() const { return receive_; }
    const Budget& SendBudget() const { return send_; }

  private:
    Budget receive_;
    Budget send_;
};
