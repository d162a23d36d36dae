#pragma once

#include <cstdint>

#include "platform/NetResult.h"

// Result codes of the network stack: success when bit 30 is set, failure when
// bit 31 is set; the condition is the low 20 bits. The numbers live with the
// platform socket layer, which produces most of them.
using qvResult = platform::net::Result;

namespace qv {

using platform::net::kAlready;
using platform::net::kAlreadyCreated;
using platform::net::kBadArgument;
using platform::net::kConnectionRefused;
using platform::net::kFail;
using platform::net::kInProgress;
using platform::net::kInvalidSocket;
using platform::net::kLayerFail;
using platform::net::kLayerOk;
using platform::net::kNoBuffers;
using platform::net::kNoInterface;
using platform::net::kOk;
using platform::net::kRefOk;
using platform::net::kWouldBlock;

using platform::net::Condition;
using platform::net::Failed;
using platform::net::Succeeded;

}  // namespace qv
