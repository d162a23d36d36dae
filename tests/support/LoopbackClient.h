#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tvxtest {

// What a plain blocking client got back from a loopback server.
struct LoopbackReply {
    bool connected = false;
    // Everything received, in order.
    std::string bytes;
    // The peer closed (orderly or by reset) before the time ran out.
    bool closed = false;
    // How many reads returned data: a reply sent byte by byte needs many.
    size_t reads = 0;
};

// Connects to 127.0.0.1:port with an ordinary blocking socket, sends request and
// reads until the peer closes or timeout has passed since the connect. Free of
// the project's network stack, so that tests can check a server from outside.
LoopbackReply LoopbackExchange(uint16_t port, std::string_view request,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The body of an HTTP reply (everything after the first blank line), "" when
// there is none.
std::string ReplyBody(const std::string& reply);

}  // namespace tvxtest
