#pragma once

#include <cstdint>

// Result codes of the network stack, shared by the platform socket layer and the
// portable code above it: success when bit 30 is set, failure when bit 31 is
// set; the condition is the low 20 bits.
namespace platform::net {

using Result = int32_t;

constexpr Result kRefOk = 0x40000000;
constexpr Result kOk = 0x40200000;
constexpr Result kLayerOk = 0x40300000;
constexpr Result kFail = static_cast<int32_t>(0x80200000u);
constexpr Result kBadArgument = static_cast<int32_t>(0x80210002u);
constexpr Result kInvalidSocket = static_cast<int32_t>(0x80220004u);
constexpr Result kConnectionRefused = static_cast<int32_t>(0x80220005u);
constexpr Result kAlready = static_cast<int32_t>(0x80220006u);
constexpr Result kAlreadyCreated = static_cast<int32_t>(0x80220007u);
constexpr Result kNoBuffers = static_cast<int32_t>(0x80220008u);
constexpr Result kInProgress = static_cast<int32_t>(0x80220009u);
constexpr Result kWouldBlock = static_cast<int32_t>(0x8022000Au);
constexpr Result kLayerFail = static_cast<int32_t>(0x80300000u);
constexpr Result kNoInterface = static_cast<int32_t>(0x80010001u);

// Conditions (low 20 bits) that callers test for.
constexpr uint32_t kConditionWouldBlock = 0x2000A;
constexpr uint32_t kConditionInvalidSocket = 0x20004;
constexpr uint32_t kConditionAlreadyCreated = 0x20007;

constexpr bool Succeeded(Result r) {
    return (static_cast<uint32_t>(r) & 0x40000000u) != 0;
}
constexpr bool Failed(Result r) {
    return (static_cast<uint32_t>(r) & 0x80000000u) != 0;
}
constexpr uint32_t Condition(Result r) {
    return static_cast<uint32_t>(r) & 0xFFFFFu;
}

}  // namespace platform::net
