// The local engine link layer on a real loopback connection: what reaches the
// engine first, how engine messages reach the listener, and which ones close
// the link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "ostra/norvikqos/link/qvICDNLocalClientLayer.h"
#include "ostra/norvikqos/object/qvClassFactory.h"
#include "ostra/norvikqos/stack/nwStreamFrame.h"

using namespace nettest;

namespace {

class RecordingEngineListener final : public nwICDNLocalClientEventListener {
  public:
    void OnEngineConnected(uint32_t c) override { Add("connected", c); }
    void OnJobAccepted(const nwCDNJobAcceptedRecord& r, uint32_t c) override {
        Add("accepted:" + std::to_string(r.serial) + "/" + std::to_string(r.engineKey) + "/" +
                std::to_string(r.valueA) + "/" + std::to_string(r.totalBytes),
            c);
    }
    void OnJobError(const nwCDNJobErrorRecord& r, uint32_t c) override {
        Add("error:" + std::string(r.text), c);
    }
    void OnJobProgress(const nwCDNJobProgressRecord& r, uint32_t c) override {
        Add("progress:" + std::to_string(r.doneBytes) + "/" + std::to_string(r.entries.size()), c);
    }
    void OnFileCompleted(const nwCDNFileCompletedRecord& r, uint32_t c) override {
        Add("file:" + std::string(r.localPath) + "|" + std::string(r.extra), c);
    }
    void OnFileCompletedDetail(const nwCDNFileCompletedRecord& r, uint32_t c) override {
        Add("detail:" + std::string(r.detail), c);
    }
    void OnJobFinished(const nwCDNJobFinishedRecord& r, uint32_t c) override {
        Add("finished:" + std::to_string(r.result) + "/" + std::to_string(r.failureFlag), c);
    }
    void OnEngineNotice(const nwCDNEngineNoticeRecord& r, uint32_t c) override {
        Add("notice:" + std::to_string(r.kind), c);
    }
    void OnNetworkDown(const nwCDNNetworkRecord&, uint32_t c) override { Add("down", c); }
    void OnNetworkUp(const nwCDNNetworkRecord&, uint32_t c) override { Add("up", c); }
    void OnEngineClosed(uint32_t c) override { Add("closed", c); }
    void OnEngineConnectFailed(uint32_t c) override { Add("connect-failed", c); }
    void OnResumeQuestion(uint32_t serial) override {
        log.push_back("resume?" + std::to_string(serial));
    }
    void OnEngineStateMessage(uint32_t value, uint32_t c) override {
        Add("state:" + std::to_string(value), c);
    }

    std::vector<std::string> log;

  private:
    void Add(const std::string& what, uint32_t context) {
        EXPECT_EQ(context, 7u) << what;
        log.push_back(what);
    }
};

std::string Frame(uint16_t category, uint16_t command, const std::string& payload) {
    nwStreamMessage message = nwStreamMessage::Allocate(payload.size());
    std::memcpy(message.Payload(), payload.data(), payload.size());
    const auto bytes = message.Seal(category, command);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A header alone, of any length field.
std::string Header(uint16_t category, uint16_t command, uint32_t length) {
    nwStreamFrameHeader header;
    header.category = category;
    header.command = command;
    header.length = length;
    std::string bytes(nwStreamFrame::kHeaderSize, '\0');
    nwStreamFrame::WriteHeader(header, reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

class CDNLocalClientLayerTest : public ::testing::Test, public NetFixture {
  protected:
    // A connected link whose engine text went out before the connection existed.
    void Open() {
        context = MakeContext(qvWatch::kConnectFailed);
        ASSERT_EQ(context->PushLayer(qvClassId::kCDNLocalClientLayer, false), qv::kOk);
        qvSmartPtr<> top = context->GetTopLayer();
        link = dynamic_cast<qvICDNLocalClientLayer*>(top.Get());
        ASSERT_NE(link, nullptr);
        ASSERT_EQ(link->SetEventListener(&events, 7), qv::kLayerOk);
        ASSERT_EQ(link->SendEngineText("halvard2"), qv::kLayerOk);
        context->Connect(listener.Address());
        peer = listener.Accept();
        ASSERT_NE(peer, platform::sock::kInvalidHandle);
        ASSERT_TRUE(RunUntil([&] { return !events.log.empty(); }));
        ASSERT_EQ(events.log[0], "connected");
        events.log.clear();
    }
    void TearDown() override {
        if (peer != platform::sock::kInvalidHandle)
            CloseGraceful(peer);
        if (link)
            link->SetEventListener(nullptr, 0);
        if (context)
            context->Close();
    }

    Listener listener;
    RecordingEngineListener events;
    qvSmartPtr<cpCQoSContext> context;
    qvICDNLocalClientLayer* link = nullptr;
    platform::sock::Handle peer = platform::sock::kInvalidHandle;
};

TEST_F(CDNLocalClientLayerTest, EngineTextQueuedBeforeConnectIsTheFirstMessage) {
    Open();
    ASSERT_EQ(link->SendJobListEnd(7), qv::kLayerOk);
    const std::string wire = ReceiveExactly(peer, 280 + 24);
    ASSERT_EQ(wire.size(), 304u);
    EXPECT_EQ(nwStreamFrame::ReadHeader(reinterpret_cast<const uint8_t*>(wire.data())).command, 12);
    EXPECT_EQ(wire.substr(14, 9), std::string("halvard2\0", 9));
    EXPECT_EQ(wire.substr(280, 14 + 4), Frame(256, 21, Le32(7)).substr(0, 18));
}

TEST_F(CDNLocalClientLayerTest, EngineMessagesInOneSegmentReachTheListenerInOrder) {
    Open();
    const std::string accepted =
        Le32(3) + Le32(11) + Le32(2) + std::string("\x10\x27\0\0\0\0\0\0", 8);
    const std::string finished = Le32(3) + Le32(11) + Le32(0) + Le32(0) + Le32(1);
    std::string completed = Le32(3) + Le32(11) + std::string(33, '\0');
    completed += std::string("/g/a.bin") + std::string(252, '\0') + std::string("x\0", 2);
    SendAll(peer, Frame(256, 4, accepted) + Frame(256, 7, completed) + Frame(256, 16, Le32(3)) +
                      Frame(256, 9, std::string(16, '\0')) + Frame(256, 10, std::string(16, '\0')) +
                      Frame(256, 22, Le32(5)) + Frame(256, 6, finished));
    ASSERT_TRUE(RunUntil([&] { return events.log.size() == 7; }));
    EXPECT_EQ(events.log,
              (std::vector<std::string>{"accepted:3/11/2/10000", "file:/g/a.bin|x", "resume?3",
                                        "down", "up", "state:5", "finished:0/1"}));
}

TEST_F(CDNLocalClientLayerTest, MalformedEngineMessagesCloseTheLink) {
    const std::string fine = Frame(256, 22, Le32(1));
    struct Case {
        const char* name;
        std::string bad;
    };
    const Case cases[] = {
        {"short accepted", Frame(256, 4, Le32(3) + Le32(11))},
        {"error text without NUL", Frame(256, 11, Le32(1) + Le32(0) + std::string(40, 'e'))},
        {"category 258", Frame(258, 22, Le32(1))},
        {"category 768", Frame(768, 4, std::string(20, '\0'))},
        {"unknown command", Frame(256, 30, Le32(1))},
        // Refused on its header: the body is never waited for.
        {"header over the frame limit",
         Header(256, 22, nwStreamFrame::kMaxPayloadLength + 8) + std::string(4096, 'x')},
        {"oversized progress count",
         Frame(256, 5, std::string(60, '\0') + Le32(1000) + std::string(80, '\0'))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open();
        // The message after the bad one in the same segment is never handed on.
        SendAll(peer, fine + c.bad + fine);
        ASSERT_TRUE(RunUntil([&] { return !events.log.empty() && events.log.back() == "closed"; }));
        EXPECT_EQ(events.log, (std::vector<std::string>{"state:1", "closed"}));
        TearDown();
        events.log.clear();
        peer = platform::sock::kInvalidHandle;
        link = nullptr;
        context = nullptr;
    }
}

TEST_F(CDNLocalClientLayerTest, RefusedConnectIsReportedAsFailedThenClosed) {
    context = MakeContext(qvWatch::kConnectFailed);
    ASSERT_EQ(context->PushLayer(qvClassId::kCDNLocalClientLayer, false), qv::kOk);
    qvSmartPtr<> top = context->GetTopLayer();
    link = dynamic_cast<qvICDNLocalClientLayer*>(top.Get());
    link->SetEventListener(&events, 7);
    uint16_t closedPort = 0;
    {
        Listener probe;
        closedPort = probe.Port();
    }
    context->Connect(cpAddress{kLoopback, closedPort});
    ASSERT_TRUE(RunUntil([&] { return events.log.size() == 2; }));
    EXPECT_EQ(events.log, (std::vector<std::string>{"connect-failed", "closed"}));
}

}  // namespace
