#include "engine/link/LinkServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace engine::link {

LinkServer::LinkServer(platform::EventLoop& loop, AcceptFn onAccept)
    : loop_(loop), onAccept_(std::move(onAccept)) {}

LinkServer::~LinkServer() {
    if (fd_ >= 0) {
        loop_.Unwatch(fd_, this);
        ::close(fd_);
    }
}

bool LinkServer::Listen(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const int on = 1;
    // A restarted engine must get its port back while old connections linger.
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 16) != 0 || !loop_.Watch(fd_, EPOLLIN, this)) {
        const int saved = errno;
        ::close(fd_);
        fd_ = -1;
        errno = saved;
        return false;
    }
    return true;
}

void LinkServer::OnFdReady(uint32_t) {
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        onAccept_(client);
    }
}

}  // namespace engine::link
