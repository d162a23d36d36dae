#pragma once

#include <cstdint>

// Result codes of the network stack: success when bit 30 is set, failure when
// bit 31 is set; the condition is the low 20 bits.
using qvResult = int32_t;

namespace qv {

constexpr qvResult kRefOk = 0x40000000;
constexpr qvResult kOk = 0x40200000;
constexpr qvResult kLayerOk = 0x40300000;
constexpr qvResult kFail = static_cast<int32_t>(0x80200000u);
constexpr qvResult kBadArgument = static_cast<int32_t>(0x80210002u);
constexpr qvResult kInvalidSocket = static_cast<int32_t>(0x80220004u);
constexpr qvResult kConnectionRefused = static_cast<int32_t>(0x80220005u);
constexpr qvResult kAlready = static_cast<int32_t>(0x80220006u);
constexpr qvResult kAlreadyCreated = static_cast<int32_t>(0x80220007u);
constexpr qvResult kNoBuffers = static_cast<int32_t>(0x80220008u);
constexpr qvResult kInProgress = static_cast<int32_t>(0x80220009u);
constexpr qvResult kWouldBlock = static_cast<int32_t>(0x8022000Au);
constexpr qvResult kLayerFail = static_cast<int32_t>(0x80300000u);
constexpr qvResult kNoInterface = static_cast<int32_t>(0x80010001u);

constexpr bool Succeeded(qvResult r) { return (static_cast<uint32_t>(r) & 0x40000000u) != 0; }
constexpr bool Failed(qvResult r) { return (static_cast<uint32_t>(r) & 0x80000000u) != 0; }
constexpr uint32_t Condition(qvResult r) { return static_cast<uint32_t>(r) & 0xFFFFFu; }

}  // namespace qv
