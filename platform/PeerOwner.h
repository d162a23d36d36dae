#pragma once

#include <cstdint>
#include <optional>

#include "platform/SocketOps.h"

// Who is at the other end of a loopback TCP connection. The engine and the
// library talk over 127.0.0.1, where any local process may connect or listen
// first; both ends serve only a peer that runs as their own user.
//
// On Linux the answer comes from the kernel's socket table (inet_diag over
// NETLINK_SOCK_DIAG). On Windows it would come from GetExtendedTcpTable
// (TCP_TABLE_OWNER_PID_ALL: the process that owns the other end's row) and
// that process's token (OpenProcessToken, GetTokenInformation(TokenUser)),
// compared with the current process's user SID.
namespace platform {

using UserId = uint32_t;

// One end of an IPv4 TCP connection: address in network byte order, port in
// host byte order (as cpAddress).
struct TcpEndpoint {
    uint32_t ip = 0;
    uint16_t port = 0;
};

// The user this process runs as.
UserId CurrentUser();

// The user that owns the socket at remote, connected to local on this machine.
// A connection not yet accepted at the other end counts as its listener's.
// None when the other end is not in the table (gone, closing, not on this
// machine) or the table cannot be read.
std::optional<UserId> LoopbackPeerOwner(const TcpEndpoint& local, const TcpEndpoint& remote);
// The same for a connected socket, from its own two endpoints.
std::optional<UserId> LoopbackPeerOwner(sock::Handle connected);

// True only when the other end is known to run as this process's user.
bool PeerIsOwnUser(sock::Handle connected);

}  // namespace platform
