#pragma once

#include <cstdint>
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
class LinkConnection final : public platform::IFdHandler {
  public:
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
    void ReadAll();
    void Flush();
    void Dispatch();
    void UpdateWatch();

    platform::EventLoop& loop_;
    int fd_;
    ILinkConnectionHandler& handler_;
    std::vector<uint8_t> in_;
    std::string out_;
    std::size_t outPos_ = 0;
    bool watchingWrite_ = false;
};

}  // namespace engine::link
