// Protocol layers on a real loopback connection: stacking order, where chunks
// go, and the agent layer's report and reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "ostra/norvikqos/agent/nwAgentMessages.h"
#include "ostra/norvikqos/agent/nwCAgentLayer.h"
#include "ostra/norvikqos/stack/nwStreamFrame.h"
#include "ostra/norvikqos/stack/nwTLayer.h"

using namespace nettest;

namespace {

class qvIProbeLayer : public qvIUnknown {};

// A layer that records what reaches it from above and what the context tells it.
class ProbeLayer final : public nwTLayer<qvIProbeLayer> {
  public:
    qvResult OnDataFromAbove(const nwDataChunk& chunk) override {
        fromAbove.append(reinterpret_cast<const char*>(chunk.data), chunk.length);
        return qv::kOk;
    }
    void OnLayerClose() override { closed = true; }
    using nwCApplicationStack::SendDown;

    std::string fromAbove;
    bool closed = false;
};

class RecordingAgentListener final : public nwIAgentListener {
  public:
    void OnAgentConnect(uint32_t context) override {
        log.push_back("connect:" + std::to_string(context));
    }
    void OnAgentReply(uint32_t, uint8_t result) override {
        log.push_back("reply:" + std::to_string(result));
    }
    void OnAgentClose(uint32_t) override { log.push_back("close"); }
    void OnAgentConnectTimeout(uint32_t) override { log.push_back("connect-timeout"); }
    void OnAgentReceiveTimeout(uint32_t) override { log.push_back("receive-timeout"); }
    std::vector<std::string> log;
};

std::string Frame(uint16_t category, uint16_t command, const std::string& payload) {
    nwStreamMessage message = nwStreamMessage::Allocate(payload.size());
    std::memcpy(message.Payload(), payload.data(), payload.size());
    const auto bytes = message.Seal(category, command);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class LayerStackTest : public ::testing::Test, public NetFixture {
  protected:
    Listener listener;
};

TEST_F(LayerStackTest, LayerPushedOnTopSendsThroughTheOneBelow) {
    auto context = MakeContext(0);
    auto bottom = qvMakeObject<ProbeLayer>();
    auto top = qvMakeObject<ProbeLayer>();
    ASSERT_EQ(context->AttachLayer(qvSmartPtr<>(bottom->Application()), 0x2017, true), qv::kOk);
    ASSERT_EQ(context->AttachLayer(qvSmartPtr<>(top->Application()), 0x200F, false), qv::kOk);
    EXPECT_EQ(context->GetTopLayer().Get(), top->Application());
    qvSmartPtr<> found;
    ASSERT_EQ(context->FindLayer(0x2017, found), qv::kOk);
    EXPECT_EQ(found.Get(), bottom->Application());
    EXPECT_TRUE(qv::Failed(context->FindLayer(0x2003, found)));
    // Unknown class ids leave the stack as it was.
    EXPECT_TRUE(qv::Failed(context->PushLayer(0x7777, true)));

    context->Connect(listener.Address());
    const auto peer = listener.Accept();
    ASSERT_NE(peer, platform::sock::kInvalidHandle);

    const uint8_t down[] = {'a', 'b', 'c'};
    top->SendDown(nwDataChunk{down, sizeof down});
    EXPECT_EQ(bottom->fromAbove, "abc");
    const uint8_t wire[] = {'x', 'y'};
    bottom->SendDown(nwDataChunk{wire, sizeof wire});
    Spin(10);
    EXPECT_EQ(ReceiveExactly(peer, 2), "xy");

    CloseGraceful(peer);
    ASSERT_TRUE(RunUntil([&] { return top->closed && bottom->closed; }));
    context->Close();
}

TEST_F(LayerStackTest, UnpushedLayerForwardsNothing) {
    auto layer = qvMakeObject<ProbeLayer>();
    uint32_t rate = 7;
    EXPECT_EQ(layer->GetLayerReceiveRate(rate), qv::kFail);
    EXPECT_EQ(rate, 0u);
    const uint8_t byte = 1;
    EXPECT_EQ(layer->SendDown(nwDataChunk{&byte, 1}), qv::kFail);
    EXPECT_EQ(layer->PassUp(&byte, 1), 0);
    void* face = nullptr;
    EXPECT_EQ(layer->Application()->QueryInterface(kNetStackInterfaceId, &face), qv::kLayerOk);
    EXPECT_EQ(face, static_cast<nwIQoSNetStack*>(layer.Get()));
    EXPECT_EQ(layer->RefCount(), 1u);  // no reference added
    EXPECT_EQ(layer->QueryInterface(0x1234, &face), qv::kLayerFail);
}

TEST_F(LayerStackTest, AgentLayerSendsReportsAndPassesRepliesOn) {
    auto context = MakeContext(qvWatch::kConnectFailed);
    ASSERT_EQ(context->PushLayer(qvClassId::kAgentLayer, true), qv::kOk);
    qvSmartPtr<> top = context->GetTopLayer();
    auto* agent = dynamic_cast<qvIAgentLayer*>(top.Get());
    ASSERT_NE(agent, nullptr);
    RecordingAgentListener listenerLog;
    agent->SetEventListener(&listenerLog, 42);

    context->Connect(listener.Address());
    const auto peer = listener.Accept();
    ASSERT_TRUE(RunUntil([&] { return !listenerLog.log.empty(); }));
    EXPECT_EQ(listenerLog.log, (std::vector<std::string>{"connect:42"}));

    std::vector<uint8_t> records(2 * nwAgent::kRecordSize);
    for (size_t i = 0; i < records.size(); ++i)
        records[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(qv::Succeeded(agent->SendReport(nwAgentReport{2, records.data()})));
    const size_t size = nwStreamFrame::MessageSize(4 + records.size());
    const std::string wire = ReceiveExactly(peer, size);
    ASSERT_EQ(wire.size(), size);
    const auto header = nwStreamFrame::ReadHeader(reinterpret_cast<const uint8_t*>(wire.data()));
    EXPECT_EQ(header.category, 768);
    EXPECT_EQ(header.command, 154);
    EXPECT_EQ(header.length, size - 14);
    EXPECT_EQ(wire.substr(14, 4), std::string("\x02\x00\x00\x00", 4));
    EXPECT_EQ(std::memcmp(wire.data() + 18, records.data(), records.size()), 0);

    // A 16-byte reply whose length field reads 2, then an unknown command.
    const std::string reply = Frame(768, 131, std::string(1, '\x03'));
    ASSERT_EQ(reply.size(), 16u);
    SendAll(peer, reply);
    ASSERT_TRUE(RunUntil([&] { return listenerLog.log.size() == 2; }));
    EXPECT_EQ(listenerLog.log[1], "reply:3");
    SendAll(peer, Frame(768, 999, "?"));
    ASSERT_TRUE(RunUntil([&] { return listenerLog.log.size() == 3; }));
    EXPECT_EQ(listenerLog.log[2], "close");
    CloseGraceful(peer);
}

TEST_F(LayerStackTest, AgentConnectFailureIsReportedAsTimeoutThenClose) {
    auto context = MakeContext(qvWatch::kConnectFailed);
    ASSERT_EQ(context->PushLayer(qvClassId::kAgentLayer, true), qv::kOk);
    qvSmartPtr<> top = context->GetTopLayer();
    RecordingAgentListener listenerLog;
    dynamic_cast<qvIAgentLayer*>(top.Get())->SetEventListener(&listenerLog, 0);
    uint16_t closedPort = 0;
    {
        Listener probe;
        closedPort = probe.Port();
    }
    context->Connect(cpAddress{kLoopback, closedPort});
    ASSERT_TRUE(RunUntil([&] { return listenerLog.log.size() == 2; }));
    EXPECT_EQ(listenerLog.log, (std::vector<std::string>{"connect-timeout", "close"}));
}

}  // namespace
