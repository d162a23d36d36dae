#include "ostra/norvikqos/qos/cpCQoSLowServerSendOnlyContextAction.h"

uint32_t cpCQoSLowServerSendOnlyContextAction::GrantReceive(uint32_t n) {
    return n;
}

void cpCQoSLowServerSendOnlyContextAction::ReturnReceive(uint32_t) {}
