#pragma once

#include <cstdint>
#include <functional>

#include "platform/EventLoop.h"

namespace engine::link {

// The engine's listening socket on 127.0.0.1; hands every accepted socket on.
class LinkServer final : public platform::IFdHandler {
  public:
    using AcceptFn = std::function<void(int fd)>;

    LinkServer(platform::EventLoop& loop, AcceptFn onAccept);
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Binds and listens; false (with errno kept) when the port is taken or the
    // socket cannot be made.
    bool Listen(uint16_t port);

    void OnFdReady(uint32_t events) override;

  private:
    platform::EventLoop& loop_;
    AcceptFn onAccept_;
    int fd_ = -1;
};

}  // namespace engine::link
