#pragma once

// The engine's end of the local engine link, played by the test: it listens
// on 127.0.0.1:57006 (in the test's own network namespace), takes the
// library's connection, reads the client's frames and sends the engine's
// reports as the test scripts them. Plain blocking sockets, free of the
// library's network stack, so that each side checks the other.

#include <chrono>
#include <cstdint>
#include <string>

namespace tvxtest {

struct LinkFrame {
    uint16_t category = 0;
    uint16_t command = 0;
    std::string payload;
};

class ScriptedEngine {
  public:
    ScriptedEngine();
    ~ScriptedEngine();
    ScriptedEngine(const ScriptedEngine&) = delete;
    ScriptedEngine& operator=(const ScriptedEngine&) = delete;

    bool Listening() const { return listener_ >= 0; }
    // Waits for the library to connect; false when it did not in time.
    bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The next whole frame from the library; false when none came in time or
    // the link closed.
    bool Read(LinkFrame& frame, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Reads frames until one with this command; false as Read.
    bool ReadUntil(uint16_t command, LinkFrame& frame,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool Send(const std::string& frame);
    // Ends the link as an engine that dies would.
    void CloseLink();

  private:
    bool Fill(size_t size, std::chrono::steady_clock::time_point deadline);

    int listener_ = -1;
    int link_ = -1;
    std::string buffer_;
};

// A loopback port that accepts connections and never answers: a server that
// hangs on every request.
class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    uint16_t Port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace tvxtest
