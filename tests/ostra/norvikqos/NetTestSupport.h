#pragma once

// A worker-thread stand-in for network tests: the manual clock, an event loop,
// the engine lock and the network core, plus a loopback listener made on port 0
// and a test layer that records what its context tells it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ostra/norvikqos/core/COstra.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/stack/nwIQoSNetStack.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/SocketOps.h"

namespace nettest {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order
constexpr uint32_t kTestLayerId = 0x7001;

// A listening socket on 127.0.0.1 with a port chosen by the system.
class Listener {
  public:
    explicit Listener(int backlog = 5);
    ~Listener();
    uint16_t Port() const { return port_; }
    cpAddress Address() const { return cpAddress{kLoopback, port_}; }
    // Waits (bounded) for one connection; kInvalidHandle when none came.
    platform::sock::Handle Accept(int timeoutMs = 2000);
    platform::sock::Handle Handle() const { return handle_; }

  private:
    platform::sock::Handle handle_ = platform::sock::kInvalidHandle;
    uint16_t port_ = 0;
};

// A connected peer socket in blocking mode with a receive timeout.
void SendAll(platform::sock::Handle handle, const std::string& bytes);
// Reads until `count` bytes arrived or the peer stops (bounded in time).
std::string ReceiveExactly(platform::sock::Handle handle, size_t count, int timeoutMs = 2000);
// Closes with a reset (linger 0) or a graceful close.
void CloseReset(platform::sock::Handle handle);
void CloseGraceful(platform::sock::Handle handle);

// Records every call the context makes on its layer.
class TestLayer final : public qvTUnknown<nwIQoSNetStack> {
  public:
    qvResult QueryInterface(uint32_t id, void** out) override;
    qvResult GetLayerReceiveRate(uint32_t&) override { return qv::kFail; }
    qvResult GetLayerSendRate(uint32_t&) override { return qv::kFail; }
    qvResult OnDataFromAbove(const nwDataChunk& chunk) override;
    qvResult CloseContext() override;
    bool OnLayerConnected() override;
    bool OnLayerConnectFailed() override;
    bool OnContextEvent(int32_t code) override;
    int32_t OnReceive(const uint8_t* data, uint32_t length) override;
    void OnContextClosed() override;
    qvResult AssignWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult SetWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult ClearWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult Connect(const cpAddress&) override { return qv::kOk; }
    qvResult NotifyConnectedUp() override { return qv::kOk; }
    int32_t PassUp(const uint8_t*, uint32_t) override { return 0; }
    qvResult SendDown(const nwDataChunk& chunk) override;

    // Events in order: "connected", "failed", "event:N", "closed", "recv:<bytes>".
    std::vector<std::string> log;
    std::string received;  // everything consumed so far
    // Consumes whole messages of this size (0: everything).
    uint32_t messageSize = 0;
    std::function<void(int32_t)> onEvent;
    std::function<void()> onConnected;
};

class NetFixture {
  public:
    NetFixture();
    ~NetFixture();

    // Runs the loop until pred holds or timeoutMs of real time passed.
    bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 2000);
    // Runs the loop for a few turns without waiting for anything.
    void Spin(int turns = 5);
    // Moves the manual clock and runs one timer pass under the engine lock.
    void AdvanceAndTick(int64_t ms);
    // Once-a-second steps of the registry, each after one second of clock.
    void Seconds(int count);

    // A context made through the class factory, initialised with the
    // unthrottled action, and (optionally) a test layer at the bottom.
    qvSmartPtr<cpCQoSContext> MakeContext(uint32_t watchFlags, TestLayer** layer = nullptr);
    int32_t StateOf(cpCQoSContext* context);

    platform::ScopedManualClock clock;
    platform::EventLoop loop;
    qvSmartPtr<cpCMutex> lock;
    std::unique_ptr<COstra> ostra;
};

}  // namespace nettest
