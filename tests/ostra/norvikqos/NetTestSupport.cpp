#include "NetTestSupport.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/core/cpCTimerManager.h"

namespace nettest {

namespace sock = platform::sock;

Listener::Listener(int backlog) {
    sock::Create(sock::kStream, handle_);
    sock::Bind(handle_, kLoopback, 0);
    sock::Listen(handle_, backlog);
    uint32_t ip = 0;
    sock::LocalAddress(handle_, ip, port_);
}

Listener::~Listener() {
    sock::Close(handle_);
}

sock::Handle Listener::Accept(int timeoutMs) {
    pollfd p{handle_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1)
        return sock::kInvalidHandle;
    sock::Handle out = sock::kInvalidHandle;
    uint32_t ip = 0;
    uint16_t port = 0;
    sock::Accept(handle_, out, ip, port);
    return out;
}

void SendAll(sock::Handle handle, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(handle, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

std::string ReceiveExactly(sock::Handle handle, size_t count, int timeoutMs) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd p{handle, POLLIN, 0};
        if (poll(&p, 1, 20) != 1)
            continue;
        char buffer[65536];
        const ssize_t n = recv(handle, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            break;
        if (n > 0)
            out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

void CloseReset(sock::Handle handle) {
    sock::Close(handle);
}  // linger 0 from Accept

void CloseGraceful(sock::Handle handle) {
    const linger off{0, 0};
    setsockopt(handle, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    close(handle);
}

qvResult TestLayer::QueryInterface(uint32_t id, void** out) {
    if (id != kNetStackInterfaceId) {
        *out = nullptr;
        return qv::kLayerFail;
    }
    *out = static_cast<nwIQoSNetStack*>(this);
    return qv::kLayerOk;
}

qvResult TestLayer::OnDataFromAbove(const nwDataChunk& chunk) {
    return SendDown(chunk);
}

qvResult TestLayer::CloseContext() {
    return context_ ? context_->Close() : qv::kFail;
}

bool TestLayer::OnLayerConnected() {
    log.push_back("connected");
    if (onConnected)
        onConnected();
    return true;
}

bool TestLayer::OnLayerConnectFailed() {
    log.push_back("failed");
    return true;
}

bool TestLayer::OnContextEvent(int32_t code) {
    log.push_back("event:" + std::to_string(code));
    if (onEvent)
        onEvent(code);
    return true;
}

int32_t TestLayer::OnReceive(const uint8_t* data, uint32_t length) {
    const uint32_t take = messageSize ? length / messageSize * messageSize : length;
    if (take > 0) {
        received.append(reinterpret_cast<const char*>(data), take);
        log.push_back("recv:" + std::to_string(take));
    }
    return static_cast<int32_t>(take);
}

void TestLayer::OnContextClosed() {
    log.push_back("closed");
}

qvResult TestLayer::SendDown(const nwDataChunk& chunk) {
    return context_ ? context_->SendFromLayer(this, chunk) : qv::kFail;
}

NetFixture::NetFixture() : lock(qvMakeObject<cpCMutex>()) {
    std::lock_guard guard(*lock);
    ostra = std::make_unique<COstra>(lock, &loop);
}

NetFixture::~NetFixture() {
    std::lock_guard guard(*lock);
    ostra.reset();
}

bool NetFixture::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        loop.RunOnce(10);
    }
    return true;
}

void NetFixture::Spin(int turns) {
    for (int i = 0; i < turns; ++i)
        loop.RunOnce(0);
}

void NetFixture::AdvanceAndTick(int64_t ms) {
    clock->Advance(ms);
    std::lock_guard guard(*lock);
    cpCTimerManager::Instance()->Tick();
}

void NetFixture::Seconds(int count) {
    for (int i = 0; i < count; ++i) {
        clock->Advance(1000);
        std::lock_guard guard(*lock);
        cpCQoS::Instance()->OnSecond();
    }
}

qvSmartPtr<cpCQoSContext> NetFixture::MakeContext(uint32_t watchFlags, TestLayer** layer) {
    std::lock_guard guard(*lock);
    qvSmartPtr<cpCQoSContext> context;
    if (!context.CreateInstance(qvClassId::kQoSContext))
        return context;
    if (qv::Failed(context->Initialize(cpQoSAction::kHigh, watchFlags, nullptr)))
        return {};
    if (layer) {
        auto made = qvMakeObject<TestLayer>();
        *layer = made.Get();
        context->AttachLayer(qvSmartPtr<>(made.Get()), kTestLayerId, true);
    }
    return context;
}

int32_t NetFixture::StateOf(cpCQoSContext* context) {
    int32_t state = -1;
    context->GetState(state);
    return state;
}

}  // namespace nettest
