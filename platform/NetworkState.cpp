#include "platform/NetworkState.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<InternetProbe> gProbe{nullptr};

bool InterfaceProbe() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool up = false;
    for (const ifaddrs* it = list; it && !up; it = it->ifa_next) {
        const bool hasAddress = it->ifa_addr && (it->ifa_addr->sa_family == AF_INET ||
                                                 it->ifa_addr->sa_family == AF_INET6);
        up = hasAddress && (it->ifa_flags & IFF_UP) && !(it->ifa_flags & IFF_LOOPBACK);
    }
    freeifaddrs(list);
    return up;
}

}  // namespace

bool IsInternetConnected() {
    if (InternetProbe probe = gProbe.load())
        return probe();
    return InterfaceProbe();
}

void SetInternetProbe(InternetProbe probe) {
    gProbe.store(probe);
}

}  // namespace platform
