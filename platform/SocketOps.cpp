#include "platform/SocketOps.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Resolver.h"

namespace platform::sock {
namespace {

sockaddr_in MakeAddress(uint32_t ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ip;
    address.sin_port = htons(port);
    return address;
}

net::Result SetResetOnClose(Handle handle) {
    const linger option{1, 0};
    if (setsockopt(handle, SOL_SOCKET, SO_LINGER, &option, sizeof option) != 0)
        return MapError(errno);
    return net::kOk;
}

}  // namespace

net::Result MapError(int error) {
    switch (error) {
        case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EINPROGRESS:
            return net::kWouldBlock;
        case EALREADY:
            return net::kAlready;
        case ENOTSOCK:
        case EBADF:
            return net::kInvalidSocket;
        case ENOBUFS:
            return net::kNoBuffers;
        case ECONNREFUSED:
            return net::kConnectionRefused;
        default:
            return net::kFail;
    }
}

net::Result NetworkStart() {
    return net::kLayerOk;
}
net::Result NetworkStop() {
    return net::kLayerOk;
}

net::Result Create(int kind, Handle& out) {
    if (kind == kStream) {
        out = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (out < 0) {
            out = kInvalidHandle;
            return net::kInvalidSocket;
        }
        return SetResetOnClose(out);
    }
    out = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (out < 0) {
        out = kInvalidHandle;
        return net::kBadArgument;
    }
    return net::kOk;
}

void Close(Handle handle) {
    if (handle >= 0)
        close(handle);
}

net::Result Connect(Handle handle, uint32_t ip, uint16_t port, int* sysError) {
    const sockaddr_in address = MakeAddress(ip, port);
    int error = 0;
    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        error = errno;
    if (sysError)
        *sysError = error;
    return error == 0 ? net::kOk : MapError(error);
}

net::Result Send(Handle handle, const void* data, uint32_t length, int32_t& sent, int* sysError) {
    // MSG_NOSIGNAL: a peer that has gone away is an error code, not a signal.
    const ssize_t n = send(handle, data, length, MSG_NOSIGNAL);
    sent = static_cast<int32_t>(n);
    if (sysError)
        *sysError = n < 0 ? errno : 0;
    return n < 0 ? MapError(errno) : net::kOk;
}

net::Result Receive(Handle handle, void* buffer, uint32_t size, int32_t& received) {
    const ssize_t n = recv(handle, buffer, size, 0);
    received = static_cast<int32_t>(n);
    if (n > 0)
        return net::kOk;
    if (n == 0)
        return net::kFail;
    return MapError(errno);
}

net::Result SendTo(Handle handle, const void* data, uint32_t length, uint32_t ip, uint16_t port,
                   int32_t& sent) {
    const sockaddr_in address = MakeAddress(ip, port);
    const ssize_t n = sendto(handle, data, length, MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&address), sizeof address);
    sent = static_cast<int32_t>(n);
    return n < 0 ? MapError(errno) : net::kOk;
}

net::Result ReceiveFrom(Handle handle, void* buffer, uint32_t size, uint32_t& ip, uint16_t& port,
                        int32_t& received) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const ssize_t n =
        recvfrom(handle, buffer, size, 0, reinterpret_cast<sockaddr*>(&address), &length);
    received = static_cast<int32_t>(n);
    if (n < 0)
        return MapError(errno);
    ip = address.sin_addr.s_addr;
    port = ntohs(address.sin_port);
    return net::kOk;
}

net::Result Bind(Handle handle, uint32_t ip, uint16_t port) {
    const int on = 1;
    if (setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return MapError(errno);
    const sockaddr_in address = MakeAddress(ip, port);
    if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return MapError(errno);
    return net::kOk;
}

net::Result Listen(Handle handle, int backlog) {
    return listen(handle, backlog) == 0 ? net::kOk : MapError(errno);
}

net::Result Accept(Handle listener, Handle& out, uint32_t& ip, uint16_t& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    out = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (out < 0) {
        out = kInvalidHandle;
        return MapError(errno);
    }
    ip = address.sin_addr.s_addr;
    port = ntohs(address.sin_port);
    return SetResetOnClose(out);
}

net::Result SetNonBlocking(Handle handle, bool nonBlocking) {
    const int flags = fcntl(handle, F_GETFL, 0);
    if (flags < 0)
        return MapError(errno);
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(handle, F_SETFL, wanted) == 0 ? net::kOk : MapError(errno);
}

net::Result EnableBroadcast(Handle handle) {
    const int on = 1;
    return setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? net::kOk
                                                                             : MapError(errno);
}

net::Result LocalAddress(Handle handle, uint32_t& ip, uint16_t& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return MapError(errno);
    ip = address.sin_addr.s_addr;
    port = ntohs(address.sin_port);
    return net::kOk;
}

net::Result Resolve(const char* name, uint32_t& ip) {
    std::vector<uint32_t> all;
    const net::Result result = ResolveAll(name, all);
    if (net::Succeeded(result))
        ip = all.front();
    return result;
}

net::Result ResolveAll(const char* name, std::vector<uint32_t>& out) {
    if (!name || !*name)
        return net::kBadArgument;
    std::vector<uint32_t> found;
    if (!platform::ResolveAll(name, found) || found.empty())
        return net::kFail;
    out.insert(out.end(), found.begin(), found.end());
    return net::kOk;
}

uint16_t HostToNet16(uint16_t value) {
    return htons(value);
}
uint16_t NetToHost16(uint16_t value) {
    return ntohs(value);
}

}  // namespace platform::sock
