#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tvxtest {

LoopbackReply LoopbackExchange(uint16_t port, std::string_view request,
                               std::chrono::milliseconds timeout) {
    LoopbackReply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return reply;
    }
    reply.connected = true;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }

    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        reply.bytes.append(buffer, static_cast<size_t>(n));
        ++reply.reads;
    }
    ::close(fd);
    return reply;
}

std::string ReplyBody(const std::string& reply) {
    const size_t blank = reply.find("\r\n\r\n");
    return blank == std::string::npos ? std::string() : reply.substr(blank + 4);
}

}  // namespace tvxtest
