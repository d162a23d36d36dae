#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// Looks the host name (or a dotted IPv4 text) up and fills ipsNetworkOrder with
// every IPv4 address it has, in the resolver's order, each address once. False
// (and an empty list) when the name does not resolve. Blocks for the length of
// the lookup.
bool ResolveAll(const char* name, std::vector<uint32_t>& ipsNetworkOrder);

// Tests answer lookups themselves (and count them) without DNS; nullptr
// restores the system resolver. The answer is deduplicated like the real one's.
using ResolverOverride = bool (*)(const char* name, std::vector<uint32_t>& ipsNetworkOrder);
void SetResolver(ResolverOverride resolver);

}  // namespace platform
