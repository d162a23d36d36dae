#include "ostra/norvikqos/qos/cpCQoSLowServerReceiveOnlyContextAction.h"

uint32_t cpCQoSLowServerReceiveOnlyContextAction::GrantSend(uint32_t n) {
    return n;
}

void cpCQoSLowServerReceiveOnlyContextAction::ReturnSend(uint32_t) {}
