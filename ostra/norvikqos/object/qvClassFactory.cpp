#include "ostra/norvikqos/object/qvClassFactory.h"

#include "ostra/norvikqos/Lib_SSL/nwCSecureSocketClientLayer.h"
#include "ostra/norvikqos/agent/nwCAgentLayer.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/core/cpCSocket.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/http/nwCHttpClientExLayer.h"
#include "ostra/norvikqos/link/nwCCDNLocalClientLayer.h"
#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"

// One entry per class that the factory can make; each class's header is the
// only thing included for it.
qvIUnknown* qvCreateObject(uint32_t classId) {
    switch (classId) {
        case qvClassId::kSocket:
            return new cpCSocket();
        case qvClassId::kTimer:
            return new cpCTimer();
        case qvClassId::kMutex:
            return new cpCMutex();
        case qvClassId::kQoSContext:
            return new cpCQoSContext();
        case qvClassId::kStreamDispatcher:
            return new nwCStreamDispatcher();
        case qvClassId::kAgentLayer:
            return (new nwCAgentLayer())->Application();
        case qvClassId::kHttpClientExLayer:
            return (new nwCHttpClientExLayer())->Application();
        case qvClassId::kCDNLocalClientLayer:
            return (new nwCCDNLocalClientLayer())->Application();
        case qvClassId::kSecureSocketClientLayer:
            return (new nwCSecureSocketClientLayer())->Application();
        default:
            return nullptr;
    }
}
