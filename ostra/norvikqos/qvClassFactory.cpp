#include "ostra/norvikqos/qvClassFactory.h"

#include "ostra/norvikqos/cpCMutex.h"
#include "ostra/norvikqos/cpCQoSContext.h"
#include "ostra/norvikqos/cpCSocket.h"
#include "ostra/norvikqos/cpCTimer.h"
#include "ostra/norvikqos/nwCAgentLayer.h"
#include "ostra/norvikqos/nwCHttpClientExLayer.h"
#include "ostra/norvikqos/nwCSecureSocketClientLayer.h"
#include "ostra/norvikqos/nwCStreamDispatcher.h"

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
        case qvClassId::kSecureSocketClientLayer:
            return (new nwCSecureSocketClientLayer())->Application();
        default:
            return nullptr;
    }
}
