#include "platform/Resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

std::atomic<ResolverOverride> gResolver{nullptr};

bool SystemResolve(const char* name, std::vector<uint32_t>& ips) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One socket type, so each address comes once per lookup rather than once
    // per protocol.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return false;
    for (const addrinfo* it = list; it; it = it->ai_next) {
        if (it->ai_family != AF_INET || !it->ai_addr ||
            it->ai_addrlen < static_cast<socklen_t>(sizeof(sockaddr_in)))
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(it->ai_addr);
        ips.push_back(address->sin_addr.s_addr);
    }
    freeaddrinfo(list);
    return true;
}

// Keeps the first occurrence of each address, in order.
void RemoveDuplicates(std::vector<uint32_t>& ips) {
    auto end = ips.begin();
    for (auto it = ips.begin(); it != ips.end(); ++it) {
        if (std::find(ips.begin(), end, *it) == end)
            *end++ = *it;
    }
    ips.erase(end, ips.end());
}

}  // namespace

bool ResolveAll(const char* name, std::vector<uint32_t>& ipsNetworkOrder) {
    ipsNetworkOrder.clear();
    if (!name || !*name)
        return false;
    const ResolverOverride resolver = gResolver.load();
    const bool resolved =
        resolver ? resolver(name, ipsNetworkOrder) : SystemResolve(name, ipsNetworkOrder);
    if (!resolved) {
        ipsNetworkOrder.clear();
        return false;
    }
    RemoveDuplicates(ipsNetworkOrder);
    return !ipsNetworkOrder.empty();
}

void SetResolver(ResolverOverride resolver) {
    gResolver.store(resolver);
}

}  // namespace platform
