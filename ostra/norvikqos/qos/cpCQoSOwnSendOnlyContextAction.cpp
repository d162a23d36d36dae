#include "ostra/norvikqos/qos/cpCQoSOwnSendOnlyContextAction.h"

uint32_t cpCQoSOwnSendOnlyContextAction::GrantReceive(uint32_t n) {
    return n;
}

void cpCQoSOwnSendOnlyContextAction::ReturnReceive(uint32_t) {}
