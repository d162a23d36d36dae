#include "ostra/norvikqos/cpCQoSOwnContextAction.h"

#include <algorithm>

uint32_t cpCQoSOwnContextAction::Budget::Grant(uint32_t n) {
    const uint32_t granted = std::min(n, budget);
    budget -= granted;
    used += granted;
    return granted;
}

void cpCQoSOwnContextAction::Budget::Return(uint32_t n) {
    const uint32_t back = std::min(n, used);
    budget += back;
    used -= back;
}

void cpCQoSOwnContextAction::Budget::Refill(uint32_t& total) {
    total += used;
    used = 0;
    budget = limit;
}

void cpCQoSOwnContextAction::SetParameter(int32_t direction, const uint32_t& value) {
    if (direction == cpQoSAction::kDirectionReceive)
        receive_.limit = value;
    else if (direction == cpQoSAction::kDirectionSend)
        send_.limit = value;
}

void cpCQoSOwnContextAction::PerSecond(cpQoSTotals& totals) {
    receive_.Refill(totals.receive);
    send_.Refill(totals.send);
}

uint32_t cpCQoSOwnContextAction::GrantReceive(uint32_t n) {
    return receive_.Grant(n);
}

uint32_t cpCQoSOwnContextAction::GrantSend(uint32_t n) {
    return send_.Grant(n);
}

void cpCQoSOwnContextAction::ReturnReceive(uint32_t n) {
    receive_.Return(n);
}

void cpCQoSOwnContextAction::ReturnSend(uint32_t n) {
    send_.Return(n);
}
