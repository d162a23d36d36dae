#pragma once

#include "ostra/norvikqos/object/qvIUnknown.h"

// The application face of the TLS layer: it has nothing beyond reference
// counting; the layer is driven entirely through the stack.
class qvISecureSocketClientLayer : public qvIUnknown {};
