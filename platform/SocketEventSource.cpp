#include "platform/SocketEventSource.h"

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

namespace platform {
namespace {

int PendingError(sock::Handle handle) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

int BytesUnread(sock::Handle handle) {
    int count = 0;
    if (ioctl(handle, FIONREAD, &count) != 0)
        return 0;
    return count;
}

bool IsListening(sock::Handle handle) {
    int on = 0;
    socklen_t length = sizeof on;
    return getsockopt(handle, SOL_SOCKET, SO_ACCEPTCONN, &on, &length) == 0 && on != 0;
}

bool HasPeer(sock::Handle handle) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

constexpr uint32_t kHangUp = EPOLLRDHUP | EPOLLHUP | EPOLLERR;

}  // namespace

SocketEventSource::SocketEventSource(EventLoop& loop, ISocketEventSink& sink)
    : loop_(loop), sink_(sink) {
    for (int i = 0; i < kSlots; ++i) {
        for (uint32_t p = 0; p < 2; ++p) {
            Handler& handler = slots_[i].handlers[p];
            handler.source = this;
            handler.slot = i;
            handler.parity = p;
        }
    }
}

SocketEventSource::~SocketEventSource() {
    alive_.reset();
    for (int i = 0; i < kSlots; ++i)
        Unregister(i);
}

SocketEventSource::Slot* SocketEventSource::Live(int slot) {
    if (slot < 0 || slot >= kSlots || slots_[slot].handle == sock::kInvalidHandle)
        return nullptr;
    return &slots_[slot];
}

bool SocketEventSource::Register(int slot, sock::Handle handle) {
    if (slot < 0 || slot >= kSlots)
        return false;
    Slot& s = slots_[slot];
    if (s.handle != sock::kInvalidHandle || s.inEpoll)
        return false;
    ++s.serial;
    s.phase = Phase::Idle;
    s.readEnabled = s.writeWanted = s.peerClosed = false;
    if (handle == sock::kInvalidHandle)
        return true;  // nothing to watch; the first socket call fails on its own
    s.handle = handle;
    // A socket handed over already connected or listening reports what holds
    // right away, as a fresh registration does on the system the contract
    // comes from.
    if (IsListening(handle)) {
        s.phase = Phase::Listening;
        s.readEnabled = true;
    } else if (HasPeer(handle)) {
        s.phase = Phase::Connected;
        s.readEnabled = s.writeWanted = true;
    }
    Sync(slot);
    return true;
}

bool SocketEventSource::Unregister(int slot) {
    if (slot < 0 || slot >= kSlots)
        return false;
    Slot& s = slots_[slot];
    const bool had = s.handle != sock::kInvalidHandle;
    if (s.inEpoll)
        loop_.Unwatch(s.handle, &s.handlers[s.serial & 1]);
    s.inEpoll = false;
    s.kernelMask = 0;
    s.handle = sock::kInvalidHandle;
    s.phase = Phase::Idle;
    s.readEnabled = s.writeWanted = s.peerClosed = false;
    return had;
}

void SocketEventSource::Rearm(int slot) {
    Slot* s = Live(slot);
    if (!s)
        return;
    if (s->phase == Phase::Connected) {
        s->readEnabled = true;
        s->writeWanted = true;
    } else if (s->phase == Phase::Listening) {
        s->readEnabled = true;
    }
    Sync(slot);
}

void SocketEventSource::NoteConnect(int slot, int sysError) {
    Slot* s = Live(slot);
    if (!s || s->phase != Phase::Idle)
        return;
    if (sysError == EINPROGRESS) {
        s->phase = Phase::Connecting;
    } else if (sysError == 0) {
        s->phase = Phase::Connected;
        s->readEnabled = s->writeWanted = true;
    }
    Sync(slot);
}

void SocketEventSource::NoteListen(int slot) {
    Slot* s = Live(slot);
    if (!s || s->phase != Phase::Idle)
        return;
    s->phase = Phase::Listening;
    s->readEnabled = true;
    Sync(slot);
}

void SocketEventSource::NoteReceive(int slot) {
    Slot* s = Live(slot);
    if (!s || s->readEnabled || (s->phase != Phase::Connected && s->phase != Phase::Listening))
        return;
    s->readEnabled = true;
    Sync(slot);
}

void SocketEventSource::NoteSendRefused(int slot) {
    Slot* s = Live(slot);
    if (!s || s->writeWanted || s->phase != Phase::Connected)
        return;
    s->writeWanted = true;
    Sync(slot);
}

uint32_t SocketEventSource::DesiredMask(const Slot& s) const {
    switch (s.phase) {
        case Phase::Connecting:
            return EPOLLOUT;
        case Phase::Listening:
            return s.readEnabled ? static_cast<uint32_t>(EPOLLIN) : 0u;
        case Phase::Connected: {
            uint32_t mask = 0;
            if (s.readEnabled)
                mask |= EPOLLIN;
            if (s.writeWanted)
                mask |= EPOLLOUT;
            // Once the peer's close is known, it is reported from the reading
            // side after the last byte; watching it again would spin.
            if (!s.peerClosed)
                mask |= EPOLLRDHUP;
            return mask;
        }
        case Phase::Idle:
        case Phase::Done:
            break;
    }
    return 0;
}

// Hang-up and error cannot be masked in epoll, so a socket that wants nothing
// is taken out of the set instead.
void SocketEventSource::Sync(int slot) {
    Slot& s = slots_[slot];
    if (s.handle == sock::kInvalidHandle)
        return;
    const uint32_t desired = DesiredMask(s);
    Handler* handler = &s.handlers[s.serial & 1];
    if (desired == 0) {
        if (s.inEpoll)
            loop_.Unwatch(s.handle, handler);
        s.inEpoll = false;
        s.kernelMask = 0;
    } else if (!s.inEpoll) {
        s.inEpoll = loop_.Watch(s.handle, desired, handler);
        s.kernelMask = s.inEpoll ? desired : 0;
    } else if (desired != s.kernelMask) {
        loop_.Rewatch(s.handle, desired, handler);
        s.kernelMask = desired;
    }
}

bool SocketEventSource::Report(int slot, uint32_t serial, SocketEvent event, int error) {
    sink_.OnSocketEvent(slot, event, error);
    const Slot& s = slots_[slot];
    return s.serial == serial && s.handle != sock::kInvalidHandle;
}

void SocketEventSource::OnReady(int slot, uint32_t parity, uint32_t events) {
    sink_.LockEngine();
    Slot& s = slots_[slot];
    // A registration replaced since the loop collected this event is left alone.
    if (s.handle != sock::kInvalidHandle && s.inEpoll && (s.serial & 1) == parity) {
        const uint32_t serial = s.serial;
        bool same = true;
        switch (s.phase) {
            case Phase::Connecting:
                if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))
                    OnConnectingReady(slot, serial);
                break;
            case Phase::Listening:
                if ((events & EPOLLIN) && s.readEnabled) {
                    s.readEnabled = false;
                    same = Report(slot, serial, SocketEvent::AcceptReady, 0);
                }
                break;
            case Phase::Connected:
                OnConnectedReady(slot, serial, events);
                break;
            case Phase::Idle:
            case Phase::Done:
                break;
        }
        if (same && s.serial == serial)
            Sync(slot);
    }
    sink_.UnlockEngine();
}

void SocketEventSource::OnConnectingReady(int slot, uint32_t serial) {
    Slot& s = slots_[slot];
    const int error = PendingError(s.handle);
    if (error == 0) {
        s.phase = Phase::Connected;
        s.readEnabled = true;
        s.writeWanted = false;
        Sync(slot);
        if (Report(slot, serial, SocketEvent::Connected, 0))
            Report(slot, serial, SocketEvent::Writable, 0);
        return;
    }
    s.phase = Phase::Done;
    Sync(slot);
    if (error == ECONNREFUSED)
        Report(slot, serial, SocketEvent::Refused, error);
    else if (error == EHOSTUNREACH)
        Report(slot, serial, SocketEvent::Unreachable, error);
    // Any other failure is not reported: the connect timeout ends the attempt.
}

void SocketEventSource::OnConnectedReady(int slot, uint32_t serial, uint32_t events) {
    Slot& s = slots_[slot];
    if ((events & kHangUp) || (s.peerClosed && (events & EPOLLIN))) {
        if (BytesUnread(s.handle) > 0) {
            s.peerClosed = true;
            if (s.readEnabled) {
                s.readEnabled = false;
                if (!Report(slot, serial, SocketEvent::Readable, 0))
                    return;
            }
        } else {
            const int error = PendingError(s.handle);
            s.phase = Phase::Done;
            Sync(slot);
            Report(slot, serial, SocketEvent::ClosedByPeer, error);
            return;
        }
    } else if ((events & EPOLLIN) && s.readEnabled) {
        s.readEnabled = false;
        if (!Report(slot, serial, SocketEvent::Readable, 0))
            return;
    }
    if ((events & EPOLLOUT) && s.writeWanted && s.phase == Phase::Connected) {
        s.writeWanted = false;
        Report(slot, serial, SocketEvent::Writable, 0);
    }
}

void SocketEventSource::PostDeferred(int slot, uint64_t token) {
    deferred_.push_back(Deferred{slot, token});
    if (!drainScheduled_) {
        drainScheduled_ = true;
        ScheduleDrain();
    }
}

void SocketEventSource::ScheduleDrain() {
    std::weak_ptr<int> alive = alive_;
    loop_.Post([this, alive] {
        if (!alive.expired())
            DrainOne();
    });
}

void SocketEventSource::DrainOne() {
    sink_.LockEngine();
    if (deferred_.empty()) {
        drainScheduled_ = false;
    } else {
        const Deferred next = deferred_.front();
        deferred_.pop_front();
        // One event per turn: the rest waits for the loop's next round, after
        // the readiness events that arrived meanwhile.
        if (deferred_.empty())
            drainScheduled_ = false;
        else
            ScheduleDrain();
        sink_.OnDeferred(next.slot, next.token);
    }
    sink_.UnlockEngine();
}

}  // namespace platform
