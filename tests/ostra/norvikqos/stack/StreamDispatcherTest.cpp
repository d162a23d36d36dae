// The stream dispatcher and the framed message: how bytes of a connection are
// cut into messages, which handler gets them, what is left waiting, and what
// closes the connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ostra/norvikqos/agent/nwAgentMessages.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A message as a sender builds it.
Bytes Frame(uint16_t category, uint16_t command, const Bytes& payload) {
    nwStreamMessage message = nwStreamMessage::Allocate(payload.size());
    std::copy(payload.begin(), payload.end(), message.Payload());
    const auto bytes = message.Seal(category, command);
    return {bytes.begin(), bytes.end()};
}

// A header written by hand, with any length field, followed by body.
Bytes RawFrame(uint16_t category, uint16_t command, uint32_t length, const Bytes& body = {}) {
    Bytes out(nwStreamFrame::kHeaderSize);
    nwStreamFrameHeader header;
    header.category = category;
    header.command = command;
    header.length = length;
    nwStreamFrame::WriteHeader(header, out.data());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Call {
    int handler;
    Bytes payload;
};

// Records every typed call, tagged with the handler that got it.
struct Recorder {
    std::vector<Call> calls;
    int tag = 0;
};

struct Tagged {
    Recorder* recorder;
    int tag;
};

void RecordCall(const uint8_t* payload, uint32_t length, void* context) {
    auto* t = static_cast<Tagged*>(context);
    t->recorder->calls.push_back({t->tag, Bytes(payload, payload + length)});
}

class StreamDispatcherTest : public testing::Test {
  protected:
    // Registers a typed handler whose calls carry tag.
    void On(uint16_t category, uint32_t command, int tag) {
        tags_.push_back(std::make_unique<Tagged>(Tagged{&recorder_, tag}));
        ASSERT_EQ(dispatcher_.RegisterHandler(category, command, &RecordCall, tags_.back().get()),
                  qv::kLayerOk);
    }
    int32_t Parse(const Bytes& data) {
        int32_t consumed = 12345;
        EXPECT_EQ(dispatcher_.Parse(data.data(), static_cast<uint32_t>(data.size()), consumed),
                  qv::kLayerOk);
        return consumed;
    }

    nwCStreamDispatcher dispatcher_;
    Recorder recorder_;
    std::vector<std::unique_ptr<Tagged>> tags_;
};

TEST(StreamDispatcherFrame, SendersPadToMultiplesOfEightAndCountThePadding) {
    struct Case {
        std::size_t payload;
        std::size_t wire;
        uint32_t lengthField;
    };
    for (const Case c : {Case{0, 16, 2}, Case{1, 16, 2}, Case{2, 16, 2}, Case{3, 24, 10},
                         Case{10, 24, 10}, Case{11, 32, 18}, Case{298 * 2 + 4, 616, 602}}) {
        nwStreamMessage message = nwStreamMessage::Allocate(c.payload);
        ASSERT_TRUE(message.IsValid());
        for (std::size_t i = 0; i < message.PayloadCapacity(); ++i)
            EXPECT_EQ(message.Payload()[i], 0) << "payload " << c.payload << " not zeroed at " << i;
        const auto bytes = message.Seal(0x0304, 0x0506);
        ASSERT_EQ(bytes.size(), c.wire) << "payload " << c.payload;
        EXPECT_EQ(bytes.data() + nwStreamFrame::kHeaderSize, message.Payload());
        const Bytes expectedHeader = {0x04,
                                      0x03,
                                      0x06,
                                      0x05,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      static_cast<uint8_t>(c.lengthField),
                                      static_cast<uint8_t>(c.lengthField >> 8),
                                      0,
                                      0};
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 14), expectedHeader)
            << "payload " << c.payload;
    }
}

TEST(StreamDispatcherFrame, MessagesAboveTheLimitAreNotBuilt) {
    EXPECT_FALSE(nwStreamMessage::Allocate(nwStreamFrame::kMaxPayloadLength).IsValid())
        << "padding would push the length field over the limit";
    EXPECT_TRUE(nwStreamMessage::Allocate(nwStreamFrame::kMaxPayloadLength - 8).IsValid());
    EXPECT_TRUE(nwStreamMessage().Seal(1, 2).empty());
}

TEST(StreamDispatcherFactory, ClassIdMakesADispatcher) {
    qvSmartPtr<nwCStreamDispatcher> dispatcher;
    ASSERT_TRUE(dispatcher.CreateInstance(qvClassId::kStreamDispatcher));
    EXPECT_FALSE(dispatcher->IsRawMode());
    EXPECT_FALSE(dispatcher->IsStopped());
}

TEST_F(StreamDispatcherTest, EmptyMessageArrivesAsTwoZeroBytes) {
    On(768, 131, 1);
    const Bytes wire = Frame(768, 131, {});
    ASSERT_EQ(wire.size(), 16u);
    EXPECT_EQ(wire[10], 2);
    EXPECT_EQ(Parse(wire), 16);
    ASSERT_EQ(recorder_.calls.size(), 1u);
    EXPECT_EQ(recorder_.calls[0].payload, (Bytes{0, 0}));
}

TEST_F(StreamDispatcherTest, TenBytePayloadTravelsAsTwentyFourBytes) {
    On(7, 9, 1);
    const Bytes payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const Bytes wire = Frame(7, 9, payload);
    ASSERT_EQ(wire.size(), 24u);
    EXPECT_EQ(Parse(wire), 24);
    ASSERT_EQ(recorder_.calls.size(), 1u);
    EXPECT_EQ(recorder_.calls[0].payload, payload);
}

TEST_F(StreamDispatcherTest, FirstMatchingHandlerInRegistrationOrderTakesTheMessage) {
    On(768, 154, 1);
    On(768, 131, 2);
    On(768, 131, 3);  // never reached: the earlier entry takes it
    On(769, 131, 4);
    EXPECT_EQ(Parse(Frame(768, 131, {9}) + Frame(769, 131, {8})), 32);
    ASSERT_EQ(recorder_.calls.size(), 2u);
    EXPECT_EQ(recorder_.calls[0].handler, 2);
    EXPECT_EQ(recorder_.calls[1].handler, 4);
}

TEST_F(StreamDispatcherTest, TwoMessagesInOneReadAreBothDispatched) {
    On(1, 1, 1);
    On(1, 2, 2);
    const Bytes wire = Frame(1, 1, {0xAA}) + Frame(1, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(Parse(wire), 40);
    ASSERT_EQ(recorder_.calls.size(), 2u);
    EXPECT_EQ(recorder_.calls[0].payload, (Bytes{0xAA, 0}));
    EXPECT_EQ(recorder_.calls[1].payload.size(), 10u);
}

TEST_F(StreamDispatcherTest, MessageSplitAcrossReadsIsDispatchedAfterTheLastPart) {
    On(1, 1, 1);
    const Bytes wire = Frame(1, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    // Every split point, including inside the header, as a context would see it:
    // what was not consumed is handed again with the next read.
    for (std::size_t split = 1; split < wire.size(); ++split) {
        recorder_.calls.clear();
        const Bytes first(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(split));
        EXPECT_EQ(Parse(first), 0) << "split " << split;
        EXPECT_TRUE(recorder_.calls.empty()) << "split " << split;
        EXPECT_EQ(Parse(wire), 24) << "split " << split;
        EXPECT_EQ(recorder_.calls.size(), 1u) << "split " << split;
    }
}

TEST_F(StreamDispatcherTest, ByteByByteFeedingDispatchesEachMessageOnce) {
    On(1, 1, 1);
    On(1, 2, 2);
    const Bytes wire = Frame(1, 1, {}) + Frame(1, 2, {5, 6, 7}) + Frame(1, 1, {4});
    Bytes pending;
    int32_t total = 0;
    for (const uint8_t b : wire) {
        pending.push_back(b);
        const int32_t n = Parse(pending);
        ASSERT_GE(n, 0);
        pending.erase(pending.begin(), pending.begin() + n);
        total += n;
    }
    EXPECT_EQ(total, static_cast<int32_t>(wire.size()));
    EXPECT_TRUE(pending.empty());
    ASSERT_EQ(recorder_.calls.size(), 3u);
    EXPECT_EQ(recorder_.calls[1].payload, (Bytes{5, 6, 7, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(StreamDispatcherTest, ReceiversAcceptUnpaddedLengths) {
    On(1, 1, 1);
    EXPECT_EQ(Parse(RawFrame(1, 1, 3, {7, 8, 9})), 17);
    ASSERT_EQ(recorder_.calls.size(), 1u);
    EXPECT_EQ(recorder_.calls[0].payload, (Bytes{7, 8, 9}));
}

TEST_F(StreamDispatcherTest, HandlerSeesOnlyItsPayloadNotTheNextMessage) {
    On(1, 1, 1);
    // A message of length 1 followed by the start of another: the handler gets
    // exactly one byte, and the incomplete rest waits.
    const Bytes wire = RawFrame(1, 1, 1, {0x55}) + RawFrame(1, 1, 4, {1, 2});
    EXPECT_EQ(Parse(wire), 15);
    ASSERT_EQ(recorder_.calls.size(), 1u);
    EXPECT_EQ(recorder_.calls[0].payload, (Bytes{0x55}));
}

TEST_F(StreamDispatcherTest, UnknownMessageClosesTheConnection) {
    On(768, 131, 1);
    struct Case {
        const char* what;
        Bytes wire;
    };
    const Case cases[] = {
        {"unknown command", Frame(768, 132, {1})},
        {"unknown category", Frame(769, 131, {1})},
        {"after a good message", Frame(768, 131, {1}) + Frame(768, 999, {})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Parse(c.wire), -1) << c.what;
    EXPECT_EQ(recorder_.calls.size(), 1u);
}

TEST_F(StreamDispatcherTest, NoHandlerAtAllClosesTheConnection) {
    EXPECT_EQ(Parse(Frame(1, 1, {})), -1);
}

TEST_F(StreamDispatcherTest, LengthFieldAboveTheLimitIsRefusedWithoutWaiting) {
    On(1, 1, 1);
    // Only the header has arrived: an honest large message would wait, one
    // above the limit is refused at once.
    EXPECT_EQ(Parse(RawFrame(1, 1, nwStreamFrame::kMaxPayloadLength)), 0);
    EXPECT_EQ(Parse(RawFrame(1, 1, nwStreamFrame::kMaxPayloadLength + 1)), -1);
    EXPECT_EQ(Parse(RawFrame(1, 1, 0xFFFFFFFFu)), -1);
    // Also for a message no handler knows: the length is judged first.
    EXPECT_EQ(Parse(RawFrame(2, 2, 0xFFFFFFF0u)), -1);
    EXPECT_TRUE(recorder_.calls.empty());
}

TEST_F(StreamDispatcherTest, ShortOrNullInputWaits) {
    On(1, 1, 1);
    EXPECT_EQ(Parse({}), 0);
    EXPECT_EQ(Parse(Bytes(13, 0)), 0);
    int32_t consumed = 7;
    EXPECT_EQ(dispatcher_.Parse(nullptr, 100, consumed), qv::kLayerOk);
    EXPECT_EQ(consumed, 0);
}

TEST_F(StreamDispatcherTest, ReplyOfByteThreeReachesTheHandler) {
    On(nwAgent::kCategory, nwAgent::kCommandReply, 1);
    const nwStreamMessage reply = nwBuildAgentReplyMessage(3);
    const auto bytes = reply.Bytes();
    const Bytes wire(bytes.begin(), bytes.end());
    ASSERT_EQ(wire, (Bytes{0x00, 0x03, 0x83, 0x00, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3, 0}));
    EXPECT_EQ(Parse(wire), 16);
    ASSERT_EQ(recorder_.calls.size(), 1u);
    EXPECT_EQ(recorder_.calls[0].payload[0], 3);
}

TEST_F(StreamDispatcherTest, StoppedDispatcherParsesNothing) {
    On(1, 1, 1);
    dispatcher_.Stop();
    EXPECT_EQ(Parse(Frame(1, 1, {})), 0);
    EXPECT_EQ(Parse(Frame(9, 9, {})), 0) << "not even an unknown message is judged";
    EXPECT_TRUE(recorder_.calls.empty());
    EXPECT_TRUE(dispatcher_.IsStopped());
}

// A handler whose connection closes under it stops the dispatcher; the
// messages behind it in the same read are left alone.
void StopOnCall(const uint8_t*, uint32_t, void* context) {
    static_cast<nwCStreamDispatcher*>(context)->Stop();
}

TEST(StreamDispatcherStop, StopInsideAHandlerLeavesTheRestOfTheRead) {
    nwCStreamDispatcher dispatcher;
    dispatcher.RegisterHandler(1, 1, &StopOnCall, &dispatcher);
    const Bytes wire = Frame(1, 1, {}) + Frame(1, 1, {}) + Frame(5, 5, {});
    int32_t consumed = 0;
    dispatcher.Parse(wire.data(), static_cast<uint32_t>(wire.size()), consumed);
    EXPECT_EQ(consumed, 16);
}

// The raw handler used below: consumes whole 4-byte words, records them.
struct RawSink {
    std::vector<Bytes> seen;
    int32_t answer = 0;  // when not 0, returned instead
};

int32_t RawWords(const uint8_t* data, uint32_t length, void* context) {
    auto* sink = static_cast<RawSink*>(context);
    sink->seen.emplace_back(data, data + length);
    if (sink->answer != 0)
        return sink->answer;
    return static_cast<int32_t>(length / 4 * 4);
}

TEST_F(StreamDispatcherTest, RawHandlerGetsTheBytesFromTheFirstAndSaysHowManyItTook) {
    On(1, 1, 1);  // registered first, but in raw mode no header is read
    RawSink sink;
    ASSERT_EQ(dispatcher_.RegisterRawHandler(&RawWords, &sink), qv::kLayerOk);
    EXPECT_TRUE(dispatcher_.IsRawMode());

    const Bytes frameLooking = Frame(1, 1, {});  // 16 bytes, looks like a typed message
    const Bytes wire = frameLooking + Bytes{1, 2};
    EXPECT_EQ(Parse(wire), 16);
    EXPECT_TRUE(recorder_.calls.empty()) << "typed handler used in raw mode";
    ASSERT_EQ(sink.seen.size(), 2u) << "called again after consuming, then needed more";
    EXPECT_EQ(sink.seen[0], wire);
    EXPECT_EQ(sink.seen[1], (Bytes{1, 2}));
}

TEST_F(StreamDispatcherTest, RawHandlerErrorsCloseTheConnection) {
    RawSink sink;
    dispatcher_.RegisterRawHandler(&RawWords, &sink);
    sink.answer = -5;
    EXPECT_EQ(Parse(Bytes(8, 1)), -5);
    sink.answer = 9;  // claims more than it was given
    EXPECT_EQ(Parse(Bytes(8, 1)), -1);
}

TEST(StreamDispatcherAgent, ReportMessageCarriesCountAndRecordsUnchanged) {
    Bytes records(2 * nwAgent::kRecordSize);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i] = static_cast<uint8_t>(i * 7);
    const nwStreamMessage message = nwBuildAgentReportMessage({2, records.data()});
    const auto bytes = message.Bytes();
    ASSERT_EQ(bytes.size(), nwStreamFrame::MessageSize(4 + records.size()));
    const nwStreamFrameHeader header = nwStreamFrame::ReadHeader(bytes.data());
    EXPECT_EQ(header.category, 768);
    EXPECT_EQ(header.command, 154);

    nwAgentReport read;
    ASSERT_TRUE(nwReadAgentReport(bytes.data() + 14, header.length, read));
    EXPECT_EQ(read.count, 2u);
    EXPECT_TRUE(std::equal(records.begin(), records.end(), read.records));
}

TEST(StreamDispatcherAgent, ReportPayloadShorterThanItsCountIsRejected) {
    struct Case {
        const char* what;
        Bytes payload;
    };
    Bytes oneRecord = {1, 0, 0, 0};
    oneRecord.resize(4 + nwAgent::kRecordSize - 1);
    const Case cases[] = {
        {"no count", {1, 0, 0}},
        {"one byte short", oneRecord},
        {"count that would wrap", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        nwAgentReport read;
        EXPECT_FALSE(
            nwReadAgentReport(c.payload.data(), static_cast<uint32_t>(c.payload.size()), read))
            << c.what;
    }
    nwAgentReport read;
    const Bytes empty = {0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(nwReadAgentReport(empty.data(), 6, read));
    EXPECT_EQ(read.count, 0u);
    EXPECT_FALSE(nwBuildAgentReportMessage({1, nullptr}).IsValid());
    EXPECT_FALSE(nwBuildAgentReportMessage({nwAgent::kMaxRecords + 1, nullptr}).IsValid());
}

}  // namespace
