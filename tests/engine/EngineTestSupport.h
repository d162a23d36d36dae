#pragma once

// Running the engine program in tests: a network namespace of the test's own
// (so port 57006 never collides), the engine as a child process, and a small
// blocking client of the link that speaks through the library's message code.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ostra/norvikqos/stack/nwStreamFrame.h"
#include "support/PrivateNetwork.h"

namespace enginetest {

using namespace std::chrono_literals;

using tvxtest::EnterPrivateNetwork;
using tvxtest::SetProbeInterface;

class EngineProcess {
  public:
    // Starts the engine and waits (bounded) until it reports ready.
    explicit EngineProcess(std::chrono::milliseconds idleLimit = 60000ms);
    ~EngineProcess();
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;

    bool Ready() const { return ready_; }
    // Waits for the program to end by itself; false when it still runs then.
    bool WaitForExit(std::chrono::milliseconds timeout, int* status = nullptr);
    bool Running();
    void Stop();

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

struct Frame {
    uint16_t category = 0;
    uint16_t command = 0;
    std::string payload;
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(payload.data()); }
    uint32_t Length() const { return static_cast<uint32_t>(payload.size()); }
};

// A blocking client of the engine on 127.0.0.1:57006 (or the port of an
// engine started with a test port).
class LinkClient {
  public:
    explicit LinkClient(uint16_t port = 57006);
    ~LinkClient();
    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    bool Send(const nwStreamMessage& message);
    bool SendRaw(const std::string& bytes);
    // The next frame, or false when none came within timeout or the engine closed.
    bool Next(Frame& frame, std::chrono::milliseconds timeout = 20s);
    // Reads frames until one with this command; every frame read is kept in Seen().
    bool WaitFor(uint16_t command, Frame& frame, std::chrono::milliseconds timeout = 20s);
    // True once the engine closed the connection (within timeout).
    bool WaitClosed(std::chrono::milliseconds timeout = 5s);
    const std::vector<Frame>& Seen() const { return seen_; }
    void Close();

  private:
    int fd_ = -1;
    std::string buffer_;
    std::vector<Frame> seen_;
};

// The path of a file's content, for byte comparison.
std::string Slurp(const std::string& path);
int64_t FileSize(const std::string& path);

}  // namespace enginetest
