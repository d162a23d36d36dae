#include "engine/link/LinkConnection.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
    if (fd_ < 0 || aborted_ || frame.empty())
        return;
    if (queued_ + frame.size() > kMaxQueuedBytes)
        return Abort();
    queued_ += frame.size();
    out_.push_back(std::move(frame));
    Flush();
}

void LinkConnection::Close() {
    if (fd_ < 0)
        return;
    loop_.Unwatch(fd_, this);
    ::close(fd_);
    fd_ = -1;
    out_.clear();
    queued_ = 0;
    body_ = {};
    handler_.OnConnectionClosed(*this);
}

void LinkConnection::OnFdReady(uint32_t events) {
    if (events & EPOLLOUT)
        Flush();
    if (fd_ >= 0 && (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
        Receive();
}

void LinkConnection::Receive() {
    uint8_t buffer[65536];
    std::size_t total = 0;
    while (fd_ >= 0 && total < kReadPerEvent) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            // What arrived before a fault or the end is still handled, in order.
            if (!Take(buffer, static_cast<std::size_t>(n)))
                return Close();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        return Close();  // orderly end or error
    }
}

bool LinkConnection::Take(const uint8_t* data, std::size_t length) {
    while (length > 0 && fd_ >= 0) {
        if (!inBody_) {
            // A whole frame inside what was read goes out without a copy.
            if (headerHave_ == 0 && length >= wire::kHeaderSize) {
                const wire::FrameHeader header = wire::ReadHeader(data);
                if (header.length > wire::kMaxPayload)
                    return false;
                if (length - wire::kHeaderSize >= header.length) {
                    if (!handler_.OnFrame(*this, header, data + wire::kHeaderSize))
                        return false;
                    data += wire::kHeaderSize + header.length;
                    length -= wire::kHeaderSize + header.length;
                    continue;
                }
            }
            const std::size_t n = std::min(wire::kHeaderSize - headerHave_, length);
            std::memcpy(header_ + headerHave_, data, n);
            headerHave_ += n;
            data += n;
            length -= n;
            if (headerHave_ < wire::kHeaderSize)
                return true;
            if (!StartFrame(header_))
                return false;
            if (frame_.length > 0)
                continue;
        } else {
            const std::size_t n = std::min(frame_.length - bodyHave_, length);
            std::memcpy(body_.data() + bodyHave_, data, n);
            bodyHave_ += n;
            data += n;
            length -= n;
            if (bodyHave_ < frame_.length)
                return true;
        }
        // The frame is whole.
        headerHave_ = 0;
        inBody_ = false;
        if (!handler_.OnFrame(*this, frame_, body_.data()))
            return false;
    }
    return true;
}

bool LinkConnection::StartFrame(const uint8_t* header) {
    frame_ = wire::ReadHeader(header);
    // Checked before a byte of the body is kept.
    if (frame_.length > wire::kMaxPayload)
        return false;
    body_.resize(frame_.length);
    bodyHave_ = 0;
    inBody_ = frame_.length > 0;
    return true;
}

void LinkConnection::Flush() {
    while (fd_ >= 0 && !aborted_ && !out_.empty()) {
        const std::string& front = out_.front();
        const ssize_t n = ::send(fd_, front.data() + outPos_, front.size() - outPos_, MSG_NOSIGNAL);
        if (n > 0) {
            outPos_ += static_cast<std::size_t>(n);
            queued_ -= static_cast<std::size_t>(n);
            if (outPos_ == front.size()) {
                out_.pop_front();
                outPos_ = 0;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return Abort();
    }
    UpdateWatch();
}

void LinkConnection::Abort() {
    if (fd_ < 0 || aborted_)
        return;
    aborted_ = true;
    out_.clear();
    outPos_ = 0;
    queued_ = 0;
    // The socket's end wakes the read side, which closes through the loop.
    ::shutdown(fd_, SHUT_RDWR);
    UpdateWatch();
}

void LinkConnection::UpdateWatch() {
    if (fd_ < 0)
        return;
    const bool want = !out_.empty();
    if (want == watchingWrite_)
        return;
    watchingWrite_ = want;
    loop_.Rewatch(fd_, EPOLLIN | EPOLLRDHUP | (want ? EPOLLOUT : 0u), this);
}

}  // namespace engine::link
