#include "support/PrivateNetwork.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tvxtest {
namespace {

constexpr char kProbeInterface[] = "tvxprobe0";

bool SetLinkUp(const char* name) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    ok = ok && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    ::close(s);
    return ok;
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

bool EnterPrivateNetwork(std::string& why, bool mounts) {
    if (::unshare(CLONE_NEWNET | (mounts ? CLONE_NEWNS : 0)) != 0) {
        why = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    if (mounts && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("private mounts: ") + std::strerror(errno);
        return false;
    }
    if (!SetLinkUp("lo")) {
        why = "loopback cannot be brought up";
        return false;
    }
    // A veth pair needs no hardware and keeps its carrier inside the namespace.
    const std::string name = kProbeInterface;
    if (!Run("ip link add " + name + " type veth peer name " + name + "p") ||
        !Run("ip addr add 198.18.0.1/32 dev " + name) || !Run("ip link set " + name + "p up") ||
        !Run("ip link set " + name + " up")) {
        why = "no veth interface for the network probe";
        return false;
    }
    return true;
}

bool SetProbeInterface(bool up) {
    // Both ends: an end that is up keeps an IPv6 link-local address, which the
    // probe counts as a network.
    const std::string name = kProbeInterface;
    const char* state = up ? " up" : " down";
    return Run("ip link set " + name + state) && Run("ip link set " + name + "p" + state);
}

}  // namespace tvxtest
