#include "ostra/norvikqos/qos/cpCQoSOwnReceiveOnlyContextAction.h"

uint32_t cpCQoSOwnReceiveOnlyContextAction::GrantSend(uint32_t n) {
    return n;
}

void cpCQoSOwnReceiveOnlyContextAction::ReturnSend(uint32_t) {}
