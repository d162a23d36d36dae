// Pushes 1 GiB through one pair of connection contexts on loopback with the
// unthrottled action and prints MiB/s and CPU seconds per GiB.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "ostra/norvikqos/core/COstra.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/core/cpSocketOps.h"
#include "platform/EventLoop.h"

namespace {

constexpr uint64_t kTotal = 1ull << 30;
constexpr uint32_t kChunk = 1u << 20;
constexpr uint32_t kLoopback = 0x0100007F;

// Sends chunk after chunk whenever the queue runs empty, or counts what arrives.
class PumpLayer final : public qvTUnknown<nwIQoSNetStack> {
  public:
    explicit PumpLayer(bool sender) : sender_(sender), block_(kChunk, 'x') {}
    qvResult QueryInterface(uint32_t id, void** out) override {
        *out = id == kNetStackInterfaceId ? static_cast<nwIQoSNetStack*>(this) : nullptr;
        return *out ? qv::kLayerOk : qv::kLayerFail;
    }
    qvResult GetLayerReceiveRate(uint32_t&) override { return qv::kFail; }
    qvResult GetLayerSendRate(uint32_t&) override { return qv::kFail; }
    qvResult OnDataFromAbove(const nwDataChunk&) override { return qv::kOk; }
    qvResult CloseContext() override { return qv::kOk; }
    bool OnLayerConnected() override { return true; }
    bool OnLayerConnectFailed() override { return true; }
    bool OnContextEvent(int32_t code) override {
        if (sender_ && code == qvContextEvent::kSendDrained && sent_ < kTotal) {
            sent_ += kChunk;
            context_->SendFromLayer(this, nwDataChunk{block_.data(), kChunk});
        }
        return true;
    }
    int32_t OnReceive(const uint8_t*, uint32_t length) override {
        received += length;
        return static_cast<int32_t>(length);
    }
    void OnContextClosed() override {}
    qvResult AssignWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult SetWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult ClearWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult Connect(const cpAddress&) override { return qv::kOk; }
    qvResult NotifyConnectedUp() override { return qv::kOk; }
    int32_t PassUp(const uint8_t*, uint32_t) override { return 0; }
    qvResult SendDown(const nwDataChunk&) override { return qv::kOk; }

    uint64_t received = 0;

  private:
    bool sender_;
    uint64_t sent_ = 0;
    std::vector<uint8_t> block_;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
    platform::EventLoop loop;
    auto lock = qvMakeObject<cpCMutex>();
    std::unique_lock guard(*lock);
    COstra ostra(lock, &loop);

    cpSocketRecordPtr listener;
    cpSock::Create(listener, 0);
    cpSock::Bind(listener.get(), cpAddress{kLoopback, 0});
    cpSock::Listen(listener.get());
    cpAddress bound;
    cpSock::LocalAddress(listener.get(), bound);

    qvSmartPtr<cpCQoSContext> client;
    client.CreateInstance(qvClassId::kQoSContext);
    client->Initialize(cpQoSAction::kHigh, qvWatch::kSendDrained, nullptr);
    auto sender = qvMakeObject<PumpLayer>(true);
    client->AttachLayer(qvSmartPtr<>(sender.Get()), 0x7001, true);
    client->Connect(cpAddress{kLoopback, bound.port});

    cpSocketRecordPtr accepted;
    cpAddress peer;
    while (qv::Failed(cpSock::Accept(listener.get(), peer, accepted)))
        loop.RunOnce(10);
    qvSmartPtr<cpCQoSContext> server;
    server.CreateInstance(qvClassId::kQoSContext);
    server->Initialize(cpQoSAction::kHigh, 0, std::move(accepted));
    auto receiver = qvMakeObject<PumpLayer>(false);
    server->AttachLayer(qvSmartPtr<>(receiver.Get()), 0x7001, true);
    guard.unlock();

    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    while (receiver->received < kTotal)
        loop.RunOnce(1000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;

    std::printf("moved %llu bytes in %.2f s: %.1f MiB/s, %.2f CPU s per GiB\n",
                static_cast<unsigned long long>(receiver->received), seconds,
                static_cast<double>(receiver->received) / (1 << 20) / seconds,
                cpu * static_cast<double>(kTotal) / static_cast<double>(receiver->received));
    guard.lock();
    client->Close();
    server->Close();
    return 0;
}
