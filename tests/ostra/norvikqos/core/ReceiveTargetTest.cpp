// A bottom layer that offers storage for its next bytes has an unthrottled
// connection read the socket straight into it; everything else (bytes past
// what it expects, budgeted actions, a layer that disowns the bytes) keeps to
// the receive buffer or closes the connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "NetTestSupport.h"
#include "ostra/norvikqos/core/cpIReceiveTarget.h"

using namespace nettest;

namespace {

// Expects `expected` bytes into storage of its own, offered at most `window`
// bytes at a time; whatever comes through OnReceive lands in `received`.
class TargetLayer final : public qvTUnknown<nwIQoSNetStack>, public cpIReceiveTarget {
  public:
    qvResult QueryInterface(uint32_t id, void** out) override {
        if (id == kReceiveTargetInterfaceId && offer) {
            *out = static_cast<cpIReceiveTarget*>(this);
            return qv::kLayerOk;
        }
        if (id != kNetStackInterfaceId) {
            *out = nullptr;
            return qv::kLayerFail;
        }
        *out = static_cast<nwIQoSNetStack*>(this);
        return qv::kLayerOk;
    }
    qvResult GetLayerReceiveRate(uint32_t&) override { return qv::kFail; }
    qvResult GetLayerSendRate(uint32_t&) override { return qv::kFail; }
    qvResult OnDataFromAbove(const nwDataChunk&) override { return qv::kFail; }
    qvResult CloseContext() override { return qv::kFail; }
    bool OnLayerConnected() override {
        connected = true;
        return true;
    }
    bool OnLayerConnectFailed() override { return true; }
    bool OnContextEvent(int32_t) override { return true; }
    int32_t OnReceive(const uint8_t* data, uint32_t length) override {
        received.append(reinterpret_cast<const char*>(data), length);
        return static_cast<int32_t>(length);
    }
    void OnContextClosed() override { closed = true; }
    qvResult AssignWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult SetWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult ClearWatchFlags(uint32_t) override { return qv::kOk; }
    qvResult Connect(const cpAddress&) override { return qv::kOk; }
    qvResult NotifyConnectedUp() override { return qv::kOk; }
    int32_t PassUp(const uint8_t*, uint32_t) override { return 0; }
    qvResult SendDown(const nwDataChunk&) override { return qv::kFail; }

    uint8_t* ReceiveTarget(uint32_t& room) override {
        room = static_cast<uint32_t>(std::min(window, storage.size() - written));
        return room ? reinterpret_cast<uint8_t*>(storage.data()) + written : nullptr;
    }
    int32_t OnReceivedInPlace(uint32_t count) override {
        EXPECT_LE(count, std::min(window, storage.size() - written));
        written += count;
        ++inPlaceCalls;
        return static_cast<int32_t>(count) + answerOffBy;
    }

    bool offer = true;
    std::string storage;
    size_t written = 0;
    size_t window = SIZE_MAX;
    int inPlaceCalls = 0;
    int32_t answerOffBy = 0;
    std::string received;
    bool connected = false;
    bool closed = false;
};

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

class ReceiveTargetTest : public ::testing::Test, public NetFixture {
  protected:
    TargetLayer* Connect(size_t expected, int32_t action = cpQoSAction::kHigh) {
        context = MakeContext(0);
        auto made = qvMakeObject<TargetLayer>();
        TargetLayer* layer = made.Get();
        layer->storage.assign(expected, '\0');
        {
            std::lock_guard guard(*lock);
            context->AttachLayer(qvSmartPtr<>(made.Get()), kTestLayerId, true);
            context->SetAction(action);
            const uint32_t limit = 256u << 20;
            context->SetActionParameter(cpQoSAction::kDirectionReceive, limit);
        }
        context->Connect(listener.Address());
        peer = listener.Accept();
        EXPECT_TRUE(RunUntil([&] { return layer->connected; }));
        return layer;
    }
    void TearDown() override {
        if (context) {
            std::lock_guard guard(*lock);
            context->Close();
            context.Reset();
        }
        platform::sock::Close(peer);
        peer = platform::sock::kInvalidHandle;
    }

    Listener listener;
    qvSmartPtr<cpCQoSContext> context;
    platform::sock::Handle peer = platform::sock::kInvalidHandle;
};

// The storage fills without a byte through the receive buffer; what the peer
// sends past it, in the same writes, is left in the socket for the buffer.
TEST_F(ReceiveTargetTest, BytesGoIntoTheOfferedStorageAndOnlyWhatFollowsThroughTheBuffer) {
    const struct {
        size_t expected;
        size_t window;
    } cases[] = {{3 << 20, SIZE_MAX}, {100000, 4096}, {1, SIZE_MAX}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        SCOPED_TRACE(c.window);
        TargetLayer* layer = Connect(c.expected);
        layer->window = c.window;
        const std::string body = Pattern(c.expected);
        SendAll(peer, body + "next");
        ASSERT_TRUE(RunUntil([&] { return layer->received.size() == 4; }, 5000));
        EXPECT_EQ(layer->written, c.expected);
        EXPECT_TRUE(layer->storage == body);
        EXPECT_EQ(layer->received, "next");
        EXPECT_GT(layer->inPlaceCalls, 0);
        TearDown();
    }
}

// Where the layer offers nothing, or a budget decides how much is read, the
// bytes come through the receive buffer as ever.
TEST_F(ReceiveTargetTest, NoOfferOrABudgetedActionReadsThroughTheBuffer) {
    const struct {
        bool offer;
        int32_t action;
    } cases[] = {{false, cpQoSAction::kHigh}, {true, cpQoSAction::kOwn}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        TargetLayer* layer = Connect(1000, c.action);
        layer->offer = c.offer;
        const std::string body = Pattern(1000);
        SendAll(peer, body);
        ASSERT_TRUE(RunUntil([&] { return layer->received.size() == body.size(); }));
        EXPECT_TRUE(layer->received == body);
        EXPECT_EQ(layer->inPlaceCalls, 0);
        EXPECT_EQ(layer->written, 0u);
        TearDown();
    }
}

// Bytes already written to the layer's storage cannot be offered again: a
// layer that does not take exactly what was written ends the connection.
TEST_F(ReceiveTargetTest, LayerThatDoesNotTakeWhatWasWrittenClosesTheConnection) {
    for (const int32_t offBy : {-1, 1}) {
        SCOPED_TRACE(offBy);
        TargetLayer* layer = Connect(1000);
        layer->answerOffBy = offBy;
        SendAll(peer, Pattern(10));
        ASSERT_TRUE(RunUntil([&] { return layer->closed; }));
        EXPECT_EQ(StateOf(context.Get()), qvContextState::kClosed);
        TearDown();
    }
}

}  // namespace
