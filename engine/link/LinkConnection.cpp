#include "engine/link/LinkConnection.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace engine::link {

LinkConnection::LinkConnection(platform::EventLoop& loop, int fd, ILinkConnectionHandler& handler)
    : loop_(loop), fd_(fd), handler_(handler) {
    loop_.Watch(fd_, EPOLLIN | EPOLLRDHUP, this);
}

LinkConnection::~LinkConnection() {
    if (fd_ >= 0) {
        loop_.Unwatch(fd_, this);
        ::close(fd_);
    }
}

void LinkConnection::Send(std::string frame) {
    if (fd_ < 0)
        return;
    if (outPos_ == out_.size()) {
        out_ = std::move(frame);
        outPos_ = 0;
    } else {
        out_.append(frame);
    }
    Flush();
}

void LinkConnection::Close() {
    if (fd_ < 0)
        return;
    loop_.Unwatch(fd_, this);
    ::close(fd_);
    fd_ = -1;
    handler_.OnConnectionClosed(*this);
}

void LinkConnection::OnFdReady(uint32_t events) {
    if (events & EPOLLOUT)
        Flush();
    if (fd_ >= 0 && (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
        ReadAll();
}

void LinkConnection::ReadAll() {
    uint8_t buffer[65536];
    bool peerClosed = false;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            in_.insert(in_.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        peerClosed = true;  // orderly end or error
        break;
    }
    // What arrived before the end is still handled.
    Dispatch();
    if (peerClosed)
        Close();
}

void LinkConnection::Dispatch() {
    std::size_t pos = 0;
    while (fd_ >= 0 && in_.size() - pos >= wire::kHeaderSize) {
        const wire::FrameHeader header = wire::ReadHeader(in_.data() + pos);
        if (header.length > wire::kMaxPayload)
            return Close();
        if (in_.size() - pos - wire::kHeaderSize < header.length)
            break;
        if (!handler_.OnFrame(*this, header, in_.data() + pos + wire::kHeaderSize))
            return Close();
        pos += wire::kHeaderSize + header.length;
    }
    if (fd_ >= 0)
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void LinkConnection::Flush() {
    while (fd_ >= 0 && outPos_ < out_.size()) {
        const ssize_t n = ::send(fd_, out_.data() + outPos_, out_.size() - outPos_, MSG_NOSIGNAL);
        if (n > 0) {
            outPos_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return Close();
    }
    if (outPos_ == out_.size()) {
        out_.clear();
        outPos_ = 0;
    }
    UpdateWatch();
}

void LinkConnection::UpdateWatch() {
    if (fd_ < 0)
        return;
    const bool want = outPos_ < out_.size();
    if (want == watchingWrite_)
        return;
    watchingWrite_ = want;
    loop_.Rewatch(fd_, EPOLLIN | EPOLLRDHUP | (want ? EPOLLOUT : 0u), this);
}

}  // namespace engine::link
