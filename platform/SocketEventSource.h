#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/EventLoop.h"
#include "platform/SocketOps.h"

namespace platform {

// Readiness events as the registry routes them to connection contexts.
enum class SocketEvent : int {
    Readable = 2,
    Writable = 3,
    Connected = 4,
    AcceptReady = 6,
    ClosedByPeer = 7,
    Refused = 8,
    Unreachable = 9,
};

// The receiver of a source's events. Every delivery is made between
// LockEngine and UnlockEngine, so the receiver's objects are never touched
// concurrently with the host's threads.
class ISocketEventSink {
  public:
    virtual void LockEngine() = 0;
    virtual void UnlockEngine() = 0;
    virtual void OnSocketEvent(int slot, SocketEvent event, int error) = 0;
    virtual void OnDeferred(int slot, uint64_t token) = 0;

  protected:
    ~ISocketEventSink() = default;
};

// Turns socket readiness in one thread's event loop into slot events with
// these guarantees, whatever epoll itself reports:
// - readable is reported when data arrives, and again after each receive call
//   that leaves data unread (a receiver that stops reading is not woken again
//   until it receives or re-arms);
// - writable is reported once when a connect completes, and again only after a
//   send was refused and space has become free;
// - connect completion is reported once, with its error (refused and host
//   unreachable as events of their own; other errors are not reported);
// - close is reported once, and only after the data the peer sent before
//   closing has been read;
// - Rearm makes readable and writable reported again where they hold.
// The receive and send calls tell the source through NoteReceive and
// NoteSendRefused, as the system's own sockets would.
//
// Deferred events are a queue drained by the loop, one event per turn.
//
// Calls other than the constructor and destructor must be made with the
// sink's engine lock held; they may come from any thread.
class SocketEventSource {
  public:
    static constexpr int kSlots = 64;

    SocketEventSource(EventLoop& loop, ISocketEventSink& sink);
    ~SocketEventSource();
    SocketEventSource(const SocketEventSource&) = delete;
    SocketEventSource& operator=(const SocketEventSource&) = delete;

    bool IsValid() const { return loop_.IsValid(); }

    // False for a slot out of range or already in use.
    bool Register(int slot, sock::Handle handle);
    // False when the slot holds no registration.
    bool Unregister(int slot);
    void Rearm(int slot);

    // After a connect call on the slot's socket, with the call's system error.
    void NoteConnect(int slot, int sysError);
    void NoteListen(int slot);
    // After a receive or accept call.
    void NoteReceive(int slot);
    // After a send that was refused for lack of buffer space.
    void NoteSendRefused(int slot);

    void PostDeferred(int slot, uint64_t token);
    size_t DeferredPending() const { return deferred_.size(); }

  private:
    enum class Phase : uint8_t { Idle, Connecting, Connected, Listening, Done };

    struct Handler final : IFdHandler {
        SocketEventSource* source = nullptr;
        int slot = 0;
        uint32_t parity = 0;
        void OnFdReady(uint32_t events) override { source->OnReady(slot, parity, events); }
    };

    struct Slot {
        sock::Handle handle = sock::kInvalidHandle;
        uint32_t serial = 0;  // registrations so far; its low bit picks the handler
        Phase phase = Phase::Idle;
        bool readEnabled = false;
        bool writeWanted = false;
        bool peerClosed = false;
        uint32_t kernelMask = 0;
        bool inEpoll = false;
        Handler handlers[2];
    };

    struct Deferred {
        int slot;
        uint64_t token;
    };

    void OnReady(int slot, uint32_t parity, uint32_t events);
    // Reports and answers whether the same registration is still in place.
    bool Report(int slot, uint32_t serial, SocketEvent event, int error);
    void OnConnectingReady(int slot, uint32_t serial);
    void OnConnectedReady(int slot, uint32_t serial, uint32_t events);
    uint32_t DesiredMask(const Slot& s) const;
    void Sync(int slot);
    void ScheduleDrain();
    void DrainOne();
    Slot* Live(int slot);

    EventLoop& loop_;
    ISocketEventSink& sink_;
    Slot slots_[kSlots];
    std::deque<Deferred> deferred_;
    bool drainScheduled_ = false;
    // Posted drain tasks hold this weakly, so a task that outlives the source
    // does nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace platform
