#include "ScriptedEngine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tvxtest {
namespace {

constexpr uint16_t kEnginePort = 57006;
constexpr size_t kHeaderSize = 14;

int ListenOn(uint16_t port, uint16_t& bound) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    bound = ntohs(address.sin_port);
    return fd;
}

int MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

uint32_t U32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
    return v;
}

}  // namespace

ScriptedEngine::ScriptedEngine() {
    uint16_t port = 0;
    listener_ = ListenOn(kEnginePort, port);
}

ScriptedEngine::~ScriptedEngine() {
    CloseLink();
    if (listener_ >= 0)
        ::close(listener_);
}

bool ScriptedEngine::Accept(std::chrono::milliseconds timeout) {
    if (listener_ < 0)
        return false;
    CloseLink();
    pollfd fd{listener_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    link_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return link_ >= 0;
}

bool ScriptedEngine::Fill(size_t size, std::chrono::steady_clock::time_point deadline) {
    while (buffer_.size() < size) {
        pollfd fd{link_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, MsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = ::recv(link_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

bool ScriptedEngine::Read(LinkFrame& frame, std::chrono::milliseconds timeout) {
    if (link_ < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!Fill(kHeaderSize, deadline))
        return false;
    const uint32_t length = U32At(buffer_, 10);
    if (!Fill(kHeaderSize + length, deadline))
        return false;
    frame.category = static_cast<uint16_t>(static_cast<uint8_t>(buffer_[0]) |
                                           (static_cast<uint8_t>(buffer_[1]) << 8));
    frame.command = static_cast<uint16_t>(static_cast<uint8_t>(buffer_[2]) |
                                          (static_cast<uint8_t>(buffer_[3]) << 8));
    frame.payload = buffer_.substr(kHeaderSize, length);
    buffer_.erase(0, kHeaderSize + length);
    return true;
}

bool ScriptedEngine::ReadUntil(uint16_t command, LinkFrame& frame,
                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Read(frame, left))
            return false;
        if (frame.command == command)
            return true;
    }
}

bool ScriptedEngine::Send(const std::string& frame) {
    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(link_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void ScriptedEngine::CloseLink() {
    if (link_ >= 0)
        ::close(link_);
    link_ = -1;
    buffer_.clear();
}

SilentServer::SilentServer() {
    fd_ = ListenOn(0, port_);
}

SilentServer::~SilentServer() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace tvxtest
