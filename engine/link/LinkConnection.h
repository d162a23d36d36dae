#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/link/WireFormat.h"
#include "platform/EventLoop.h"

namespace engine::link {

class LinkConnection;

// Where a connection delivers its frames and its end.
class ILinkConnectionHandler {
  public:
    // One whole frame. Answer false when the frame is malformed: the
    // connection then closes.
    virtual bool OnFrame(LinkConnection& connection, const wire::FrameHeader& header,
                         const uint8_t* payload) = 0;
    // The peer went away or the connection was closed; called once, after which
    // the handler may destroy the connection (outside this call).
    virtual void OnConnectionClosed(LinkConnection& connection) = 0;

  protected:
    ~ILinkConnectionHandler() = default;
};

// One accepted client of the link: a non-blocking socket in the engine's event
// loop, splitting what it reads into frames and queueing what it sends.
//
// Both directions are bounded. Each frame's header is checked as soon as its
// 14 bytes are in, so a frame above the limit closes the connection before a
// byte of its body is kept; at most one frame is held while it arrives. A
// client that leaves more than kMaxQueuedBytes of reports unread is taken for
// gone and closed.
class LinkConnection final : public platform::IFdHandler {
  public:
    static constexpr std::size_t kMaxQueuedBytes = 8u * 1024u * 1024u;

    LinkConnection(platform::EventLoop& loop, int fd, ILinkConnectionHandler& handler);
    ~LinkConnection();
    LinkConnection(const LinkConnection&) = delete;
    LinkConnection& operator=(const LinkConnection&) = delete;

    // Queues one frame; sent as the socket takes it.
    void Send(std::string frame);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    void OnFdReady(uint32_t events) override;

  private:
    // Reads what is waiting, up to kReadPerEvent bytes (the loop calls again
    // while more waits).
    void Receive();
    // Takes received bytes into frames; false when the stream must close.
    bool Take(const uint8_t* data, std::size_t length);
    bool StartFrame(const uint8_t* header);
    void Flush();
    // A send that failed or overflowed: nothing more is sent, and the close
    // arrives through the loop as the socket's end, never from inside Send.
    void Abort();
    void UpdateWatch();

    static constexpr std::size_t kReadPerEvent = 1u << 20;

    platform::EventLoop& loop_;
    int fd_;
    ILinkConnectionHandler& handler_;
    // The frame being received: its header bytes, then its body.
    uint8_t header_[wire::kHeaderSize] = {};
    std::size_t headerHave_ = 0;
    wire::FrameHeader frame_;
    std::vector<uint8_t> body_;
    std::size_t bodyHave_ = 0;
    bool inBody_ = false;
    // Frames to send; the first one is sent from outPos_.
    std::deque<std::string> out_;
    std::size_t outPos_ = 0;
    std::size_t queued_ = 0;
    bool aborted_ = false;
    bool watchingWrite_ = false;
};

}  // namespace engine::link
