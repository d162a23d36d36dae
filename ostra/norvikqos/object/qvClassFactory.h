#pragma once

#include <cstdint>

class qvIUnknown;

// Numeric class ids of the factory. 0x1000 range: platform objects; 0x2000
// range: network objects (a layer hands out its application face).
namespace qvClassId {
constexpr uint32_t kSocket = 0x1005;
constexpr uint32_t kTimer = 0x1006;
constexpr uint32_t kMutex = 0x1008;
constexpr uint32_t kQoSContext = 0x100A;
constexpr uint32_t kAgentLayer = 0x2003;
constexpr uint32_t kStreamDispatcher = 0x2006;
constexpr uint32_t kHttpClientExLayer = 0x200F;
constexpr uint32_t kCDNLocalClientLayer = 0x2015;
constexpr uint32_t kSecureSocketClientLayer = 0x2017;
}  // namespace qvClassId

// Constructs the class of the id with no reference added, or returns nullptr for
// an id that is not in the table.
qvIUnknown* qvCreateObject(uint32_t classId);
