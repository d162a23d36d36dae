#include "platform/PeerOwner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// The kernel's TCP states (include/net/tcp_states.h).
enum TcpState : uint8_t {
    kEstablished = 1,
    kSynRecv = 3,
    kCloseWait = 8,
    kListen = 10,
    kNewSynRecv = 12,
};

// One row of the socket table as inet_diag reports it.
struct SocketRow {
    uint8_t state = 0;
    UserId uid = 0;
    uint32_t inode = 0;
};

// Closes the netlink socket on every path.
class NetlinkSocket {
  public:
    NetlinkSocket() : fd_(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    ~NetlinkSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;
    int Fd() const { return fd_; }

  private:
    int fd_;
};

// The address of a row's endpoint as IPv4; an IPv6 socket counts when its
// address is IPv4-mapped (a v6 socket that reached 127.0.0.1).
bool SameIpv4(uint8_t family, const uint32_t address[4], uint32_t ip) {
    if (family == AF_INET)
        return address[0] == ip;
    return family == AF_INET6 && address[0] == 0 && address[1] == 0 &&
           address[2] == htonl(0xFFFF) && address[3] == ip;
}

// The row of the socket whose own endpoints are self and other (other
// {0, 0}: the listener on self). inet_diag's exact lookup finds an
// established socket first and falls back to the listener, so the answer is
// checked against what was asked. The kernel answers a request that is not a
// dump while it is being sent, so the reply is read without waiting.
std::optional<SocketRow> Lookup(const TcpEndpoint& self, const TcpEndpoint& other) {
    NetlinkSocket netlink;
    if (netlink.Fd() < 0)
        return std::nullopt;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.body.sdiag_family = AF_INET;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0u;
    request.body.id.idiag_sport = htons(self.port);
    request.body.id.idiag_dport = htons(other.port);
    request.body.id.idiag_src[0] = self.ip;
    request.body.id.idiag_dst[0] = other.ip;
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(netlink.Fd(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(sizeof request))
        return std::nullopt;

    alignas(nlmsghdr) char reply[8192];
    ssize_t n;
    do {
        n = ::recv(netlink.Fd(), reply, sizeof reply, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return std::nullopt;
    auto length = static_cast<unsigned int>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(h, length);
         h = NLMSG_NEXT(h, length)) {
        if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            return std::nullopt;  // NLMSG_ERROR: no such socket
        inet_diag_msg row;
        std::memcpy(&row, NLMSG_DATA(h), sizeof row);
        const bool listener = other.ip == 0 && other.port == 0;
        if (ntohs(row.id.idiag_sport) != self.port)
            return std::nullopt;
        if (listener ? row.idiag_state != kListen
                     : ntohs(row.id.idiag_dport) != other.port ||
                           !SameIpv4(row.idiag_family, row.id.idiag_src, self.ip) ||
                           !SameIpv4(row.idiag_family, row.id.idiag_dst, other.ip))
            return std::nullopt;
        return SocketRow{row.idiag_state, row.idiag_uid, row.idiag_inode};
    }
    return std::nullopt;
}

bool Ipv4Endpoint(const sockaddr_storage& address, TcpEndpoint& out) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        out = {v4.sin_addr.s_addr, ntohs(v4.sin_port)};
        return true;
    }
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (!IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            return false;
        uint32_t ip = 0;
        std::memcpy(&ip, v6.sin6_addr.s6_addr + 12, sizeof ip);
        out = {ip, ntohs(v6.sin6_port)};
        return true;
    }
    return false;
}

}  // namespace

UserId CurrentUser() {
    return static_cast<UserId>(::geteuid());
}

std::optional<UserId> LoopbackPeerOwner(const TcpEndpoint& local, const TcpEndpoint& remote) {
    const std::optional<SocketRow> peer = Lookup(remote, local);
    if (!peer)
        return std::nullopt;
    // A socket that belongs to a file has its creator's user.
    if (peer->inode != 0)
        return peer->uid;
    // A connection the other side has not accepted yet belongs to no file
    // (and older kernels report it as root's): it becomes its listener's.
    // Anything else without a file (closing, time-wait) has no owner left.
    switch (peer->state) {
        case kEstablished:
        case kCloseWait:
        case kSynRecv:
        case kNewSynRecv:
            break;
        default:
            return std::nullopt;
    }
    const std::optional<SocketRow> listener = Lookup(remote, TcpEndpoint{});
    if (!listener || listener->inode == 0)
        return std::nullopt;
    return listener->uid;
}

std::optional<UserId> LoopbackPeerOwner(sock::Handle connected) {
    sockaddr_storage local{};
    sockaddr_storage remote{};
    socklen_t localLength = sizeof local;
    socklen_t remoteLength = sizeof remote;
    TcpEndpoint self;
    TcpEndpoint peer;
    if (::getsockname(connected, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(connected, reinterpret_cast<sockaddr*>(&remote), &remoteLength) != 0 ||
        !Ipv4Endpoint(local, self) || !Ipv4Endpoint(remote, peer))
        return std::nullopt;
    return LoopbackPeerOwner(self, peer);
}

bool PeerIsOwnUser(sock::Handle connected) {
    const std::optional<UserId> owner = LoopbackPeerOwner(connected);
    return owner && *owner == CurrentUser();
}

}  // namespace platform
