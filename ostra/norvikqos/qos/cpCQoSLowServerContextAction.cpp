#include "ostra/norvikqos/qos/cpCQoSLowServerContextAction.h"

#include <algorithm>

#include "ostra/norvikqos/core/cpCQoS.h"

uint32_t cpCQoSLowServerContextAction::ProcessGrant(uint32_t n, uint32_t budget, uint32_t& used) {
    if (used >= budget)
        return 0;
    const uint32_t granted = std::min(n, budget - used);
    used += granted;
    return granted;
}

void cpCQoSLowServerContextAction::ProcessReturn(uint32_t n, uint32_t& used) {
    used -= std::min(n, used);
}

uint32_t cpCQoSLowServerContextAction::GrantReceive(uint32_t n) {
    cpCQoS* qos = cpCQoS::Instance();
    if (!qos)
        return 0;
    cpCQoS::Budget& budget = qos->ProcessBudget();
    return ProcessGrant(n, budget.receiveBudget, budget.receiveUsed);
}

uint32_t cpCQoSLowServerContextAction::GrantSend(uint32_t n) {
    cpCQoS* qos = cpCQoS::Instance();
    if (!qos)
        return 0;
    cpCQoS::Budget& budget = qos->ProcessBudget();
    return ProcessGrant(n, budget.sendBudget, budget.sendUsed);
}

void cpCQoSLowServerContextAction::ReturnReceive(uint32_t n) {
    if (cpCQoS* qos = cpCQoS::Instance())
        ProcessReturn(n, qos->ProcessBudget().receiveUsed);
}

void cpCQoSLowServerContextAction::ReturnSend(uint32_t n) {
    if (cpCQoS* qos = cpCQoS::Instance())
        ProcessReturn(n, qos->ProcessBudget().sendUsed);
}
