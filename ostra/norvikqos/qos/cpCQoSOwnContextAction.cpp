#include "ostra/norvikqos/qos/cpCQoSOwnContextAction.h"

#include <algorithm>

#include "ostra/norvikqos/core/cpCQoS.h"

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

// A first limit is good at once for the rest of the current second, pro rata:
// a connection made in the middle of a second would otherwise stand still
// until the next refill, which costs every new connection (each file, retry
// and redirect of a download) up to a second while keeping the rate exact.
void cpCQoSOwnContextAction::Budget::SetLimit(uint32_t value) {
    const bool first = !limitSet;
    limitSet = true;
    limit = value;
    if (!first)
        return;
    const cpCQoS* registry = cpCQoS::Instance();
    const uint64_t left = registry ? registry->MsUntilNextSecond() : cpCQoS::kSecondMs;
    budget = static_cast<uint32_t>(uint64_t{value} * left / cpCQoS::kSecondMs);
}

void cpCQoSOwnContextAction::SetParameter(int32_t direction, const uint32_t& value) {
    if (direction == cpQoSAction::kDirectionReceiveLeft)
        receive_.budget = std::min(receive_.budget, value);
    else if (direction == cpQoSAction::kDirectionReceive)
        receive_.SetLimit(value);
    else if (direction == cpQoSAction::kDirectionSend)
        send_.SetLimit(value);
}

void cpCQoSOwnContextAction::PerSecond(cpQoSTotals& totals) {
    receive_.Refill(totals.receive);
    send_.Refill(totals.send);
}

uint32_t cpCQoSOwnContextAction::ReceiveBlock() const {
    return std::clamp(receive_.limit / 64, cpQoSAction::kReceiveBlock,
                      cpQoSAction::kLargeReceiveBlock);
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
