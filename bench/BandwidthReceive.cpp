// Receives over loopback through a connection context under the own-budget
// receive action (type 6) at 104857600 and at 393216 bytes per second, each for
// ten one-second periods, from a sender thread that writes as fast as a plain
// blocking socket lets it. Prints the achieved rate as a ratio of the limit
// (over whole refill periods, and over the first ten seconds from the connect,
// which includes the wait for the first refill) and CPU seconds per GiB.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "ostra/norvikqos/core/COstra.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/qos/cpCQoSLowContextAction.h"
#include "platform/EventLoop.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x0100007F;
constexpr int kPeriods = 10;

// Counts and consumes everything that arrives.
class CountLayer final : public qvTUnknown<nwIQoSNetStack> {
  public:
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
    bool OnContextEvent(int32_t) override { return true; }
    int32_t OnReceive(const uint8_t*, uint32_t length) override {
        if (received == 0)
            firstByte = Clock::now();
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
    Clock::time_point firstByte;
};

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A listening socket on 127.0.0.1 whose one connection is fed until stopped.
class Sender {
  public:
    Sender() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = kLoopback;
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Sender() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    uint16_t Port() const { return port_; }

  private:
    void Run() {
        const int peer = accept(listener_, nullptr, nullptr);
        if (peer < 0)
            return;
        std::vector<char> block(1 << 20, 'x');
        while (!stop_ && send(peer, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
        }
        close(peer);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void Measure(platform::EventLoop& loop, cpCMutex& lock, uint32_t limit) {
    Sender sender;
    std::unique_lock guard(lock);
    qvSmartPtr<cpCQoSContext> context;
    context.CreateInstance(qvClassId::kQoSContext);
    context->Initialize(cpQoSAction::kOwnReceiveOnly, 0, nullptr);
    context->SetActionParameter(cpQoSAction::kDirectionReceive, limit);
    auto layer = qvMakeObject<CountLayer>();
    context->AttachLayer(qvSmartPtr<>(layer.Get()), 0x7001, true);
    const Clock::time_point connected = Clock::now();
    context->Connect(cpAddress{kLoopback, sender.Port()});
    const uint32_t secondAtStart = cpCQoS::Instance()->ProcessBudget().second;
    guard.unlock();

    // Bytes received and the time at each refill seen, the first being the
    // first refill after the action was set.
    std::vector<std::pair<Clock::time_point, uint64_t>> refills;
    uint64_t receivedAtTen = 0;
    bool tenPassed = false;
    const double cpuThread = CpuSeconds(RUSAGE_THREAD);
    const double cpuProcess = CpuSeconds(RUSAGE_SELF);
    uint32_t lastSecond = secondAtStart;
    // How long into each period the budget lasted: the headroom of the pump.
    double longestDrain = 0;
    bool drained = true;
    const auto* action = dynamic_cast<const cpCQoSLowContextAction*>(context->Action());
    while (refills.size() < kPeriods + 1) {
        loop.RunOnce(1000);
        const Clock::time_point now = Clock::now();
        if (!tenPassed && now - connected >= std::chrono::seconds(10)) {
            tenPassed = true;
            receivedAtTen = layer->received;
        }
        const uint32_t second = cpCQoS::Instance()->ProcessBudget().second;
        if (second != lastSecond) {
            lastSecond = second;
            refills.emplace_back(now, layer->received);
            drained = false;
        } else if (!drained && action && action->IsReceiveBlocked() && refills.size() <= kPeriods) {
            drained = true;
            longestDrain = std::max(longestDrain, Seconds(now - refills.back().first));
        }
    }
    const double threadCpu = CpuSeconds(RUSAGE_THREAD) - cpuThread;
    const double processCpu = CpuSeconds(RUSAGE_SELF) - cpuProcess;
    if (!tenPassed)
        receivedAtTen = layer->received;

    const uint64_t bytes = refills.back().second - refills.front().second;
    const double span = Seconds(refills.back().first - refills.front().first);
    double low = 1e9;
    double high = 0;
    for (size_t i = 1; i < refills.size(); ++i) {
        const double ratio = static_cast<double>(refills[i].second - refills[i - 1].second) / limit;
        low = std::min(low, ratio);
        high = std::max(high, ratio);
    }
    const double gib = static_cast<double>(bytes) / (1u << 30);
    std::printf(
        "limit %u B/s: %llu bytes in %d periods over %.3f s: ratio %.4f "
        "(per period %.4f to %.4f)\n"
        "  first refill %.3f s after the action was set, first byte at %.3f s; "
        "first 10 s from the connect: ratio %.4f\n"
        "  budget used up at most %.3f s into a period\n"
        "  CPU: %.3f s worker thread, %.3f s whole process (with the sender); "
        "per GiB %.2f s and %.2f s\n",
        limit, static_cast<unsigned long long>(bytes), kPeriods, span,
        static_cast<double>(bytes) / span / limit, low, high,
        Seconds(refills.front().first - connected), Seconds(layer->firstByte - connected),
        static_cast<double>(receivedAtTen) / 10.0 / limit, longestDrain, threadCpu, processCpu,
        threadCpu / gib, processCpu / gib);
    std::fflush(stdout);

    guard.lock();
    context->Close();
}

}  // namespace

int main() {
    platform::EventLoop loop;
    auto lock = qvMakeObject<cpCMutex>();
    std::unique_lock guard(*lock);
    COstra ostra(lock, &loop);
    guard.unlock();
    for (const uint32_t limit : {0x6400000u, 0x60000u})
        Measure(loop, *lock, limit);
    guard.lock();
    return 0;
}
