// Connection contexts over real loopback sockets: connect outcomes, timeouts,
// framing left in the buffer, the send queue and the peer's close.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <string>

#include "NetTestSupport.h"
#include "ostra/norvikqos/core/cpCHostCache.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "platform/Resolver.h"
#include "support/HeldResolver.h"

using namespace nettest;
namespace st = qvContextState;

namespace {

// A port on 127.0.0.1 where nothing listens.
uint16_t ClosedPort() {
    Listener probe;
    return probe.Port();
}

struct Connected {
    qvSmartPtr<cpCQoSContext> context;
    TestLayer* layer = nullptr;
    platform::sock::Handle peer = platform::sock::kInvalidHandle;
};

class ContextTest : public ::testing::Test, public NetFixture {
  protected:
    Connected Connect(uint32_t watch) {
        Connected c;
        c.context = MakeContext(watch, &c.layer);
        c.context->Connect(listener.Address());
        c.peer = listener.Accept();
        EXPECT_TRUE(RunUntil([&] { return !c.layer->log.empty(); }));
        EXPECT_EQ(c.layer->log, (std::vector<std::string>{"connected"}));
        c.layer->log.clear();
        return c;
    }
    // Reads what the peer has without blocking.
    static void Drain(platform::sock::Handle peer, std::string& into) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return;
            into.append(buffer, static_cast<size_t>(n));
        }
    }
    Listener listener;
};

TEST_F(ContextTest, RefusedConnectFailsAtOnceAndEventOneOnlyWithWatchFlag) {
    for (const uint32_t watch : {qvWatch::kConnectFailed, 0u}) {
        SCOPED_TRACE(watch);
        TestLayer* layer = nullptr;
        auto context = MakeContext(watch, &layer);
        EXPECT_EQ(context->Connect(cpAddress{kLoopback, ClosedPort()}), qv::kOk);
        EXPECT_EQ(StateOf(context.Get()), st::kConnecting);
        ASSERT_TRUE(RunUntil([&] { return StateOf(context.Get()) != st::kConnecting; }));
        EXPECT_EQ(StateOf(context.Get()), st::kConnectFailed);
        Spin(10);
        if (watch) {
            EXPECT_EQ(StateOf(context.Get()), st::kClosed);
            EXPECT_EQ(layer->log, (std::vector<std::string>{"event:1", "closed"}));
        } else {
            EXPECT_EQ(StateOf(context.Get()), st::kConnectFailed);
            EXPECT_TRUE(layer->log.empty());
            context->Close();
        }
    }
}

TEST_F(ContextTest, ConnectThatNeverCompletesEndsAtTheConnectTimeout) {
    // A listener whose accept queue is full drops further handshakes, so the
    // next connect stays pending without any traffic leaving the machine.
    Listener full(0);
    platform::sock::Handle filler = platform::sock::kInvalidHandle;
    platform::sock::Create(platform::sock::kStream, filler);
    ASSERT_EQ(platform::sock::Connect(filler, kLoopback, full.Port()), qv::kOk);

    TestLayer* layer = nullptr;
    auto context = MakeContext(qvWatch::kConnectFailed, &layer);
    context->Connect(full.Address());
    Spin(10);
    AdvanceAndTick(4980);  // the timer may fire up to 10 ms early, not more
    Spin(5);
    EXPECT_EQ(StateOf(context.Get()), st::kConnecting);
    AdvanceAndTick(20);
    EXPECT_EQ(StateOf(context.Get()), st::kConnectFailed);
    ASSERT_TRUE(RunUntil([&] { return StateOf(context.Get()) == st::kClosed; }));
    EXPECT_EQ(layer->log, (std::vector<std::string>{"event:1", "closed"}));
    platform::sock::Close(filler);
}

TEST_F(ContextTest, SynchronousConnectErrorClosesThroughEventThirtyTwo) {
    TestLayer* layer = nullptr;
    auto context = MakeContext(qvWatch::kSocketError, &layer);
    // The limited broadcast address is refused by the local stack at once.
    context->Connect(cpAddress{0xFFFFFFFFu, 80});
    EXPECT_EQ(StateOf(context.Get()), st::kConnectFailed);
    ASSERT_TRUE(RunUntil([&] { return StateOf(context.Get()) == st::kClosed; }));
    EXPECT_EQ(layer->log, (std::vector<std::string>{"event:32", "closed"}));
}

TEST_F(ContextTest, ReceiveTimeoutGivesExactlyOneEventFourAndAReadCancelsIt) {
    auto c = Connect(qvWatch::kReceiveTimeout);
    const int32_t timeout = 2;
    c.context->SetTimeout(qvTimeoutKind::kReceive, &timeout);

    Seconds(2);
    Spin(5);
    EXPECT_TRUE(c.layer->log.empty());
    Seconds(1);  // the first step after the timeout was reached
    ASSERT_TRUE(RunUntil([&] { return !c.layer->log.empty(); }));
    Seconds(6);
    Spin(10);
    EXPECT_EQ(c.layer->log, (std::vector<std::string>{"event:4"}));
    EXPECT_NE(StateOf(c.context.Get()), st::kClosed);

    // A read between queueing and delivery cancels the event.
    c.layer->log.clear();
    SendAll(c.peer, "x");
    ASSERT_TRUE(RunUntil([&] { return c.layer->received == "x"; }));
    Seconds(3);
    c.context->OnReadable();  // a read event before the queued event arrives
    Spin(10);
    EXPECT_EQ(c.layer->log, (std::vector<std::string>{"recv:1"}));
    platform::sock::Close(c.peer);
}

TEST_F(ContextTest, PartialMessageStaysInTheBufferAndIsAppendedTo) {
    auto c = Connect(0);
    c.layer->messageSize = 14;
    SendAll(c.peer, "abc");
    ASSERT_TRUE(RunUntil([&] { return c.context->ReceiveBuffer().Length() == 3; }));
    Spin(5);
    EXPECT_TRUE(c.layer->received.empty());

    SendAll(c.peer, "defghijklmnVWXYZ");  // completes the first message, starts a second
    ASSERT_TRUE(RunUntil([&] { return c.layer->received.size() == 14; }));
    EXPECT_EQ(c.layer->received, "abcdefghijklmn");
    const auto& rest = c.context->ReceiveBuffer();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rest.Data()), rest.Length()), "VWXYZ");
    platform::sock::Close(c.peer);
}

// A layer that takes everything leaves the buffer empty but keeps its block,
// so the next read event writes into the same, already mapped memory, until
// the context closes.
TEST_F(ContextTest, ReceiveStorageIsKeptBetweenReadsAndGivenBackAtClose) {
    auto c = Connect(0);
    const std::string first(200000, 'a');
    SendAll(c.peer, first);
    ASSERT_TRUE(RunUntil([&] { return c.layer->received.size() == first.size(); }));
    const auto& buffer = c.context->ReceiveBuffer();
    EXPECT_EQ(buffer.Length(), 0u);
    ASSERT_TRUE(buffer.HasStorage());
    const uint8_t* block = buffer.Data();
    const uint32_t capacity = buffer.Capacity();

    SendAll(c.peer, "more");
    ASSERT_TRUE(RunUntil([&] { return c.layer->received.size() == first.size() + 4; }));
    EXPECT_EQ(c.layer->received.substr(first.size()), "more");
    EXPECT_EQ(buffer.Data(), block);
    EXPECT_EQ(buffer.Capacity(), capacity);

    // Closed, it reads no more: the block goes at once, not with the context's
    // deferred release.
    c.context->Close();
    EXPECT_FALSE(buffer.HasStorage());
    platform::sock::Close(c.peer);
}

TEST_F(ContextTest, NoLayersMeansBytesAccumulateInTheBuffer) {
    Connected c;
    c.context = MakeContext(0);
    c.context->Connect(listener.Address());
    c.peer = listener.Accept();
    SendAll(c.peer, "one");
    ASSERT_TRUE(RunUntil([&] { return c.context->ReceiveBuffer().Length() == 3; }));
    SendAll(c.peer, "two");
    ASSERT_TRUE(RunUntil([&] { return c.context->ReceiveBuffer().Length() == 6; }));
    platform::sock::Close(c.peer);
}

TEST_F(ContextTest, TwoChunksQueuedWhenTheQueueRunsEmptyGoOutInOrder) {
    // Large enough that the socket refuses part of them and writable resumes.
    const std::string first(300000, 'A');
    const std::string second(300000, 'B');
    auto c = Connect(0);
    bool queued = false;
    c.layer->onEvent = [&](int32_t code) {
        if (code != qvContextEvent::kSendDrained || queued)
            return;
        queued = true;
        c.layer->SendDown(nwDataChunk{reinterpret_cast<const uint8_t*>(first.data()),
                                      static_cast<uint32_t>(first.size())});
        c.layer->SendDown(nwDataChunk{reinterpret_cast<const uint8_t*>(second.data()),
                                      static_cast<uint32_t>(second.size())});
    };
    c.context->SetWatchFlags(qvWatch::kSendDrained);
    c.context->RearmEvents();  // writable again: the sender finds the queue empty

    std::string got;
    ASSERT_TRUE(RunUntil(
        [&] {
            Drain(c.peer, got);
            return got.size() >= first.size() + second.size();
        },
        5000));
    EXPECT_TRUE(got == first + second);
    platform::sock::Close(c.peer);
}

TEST_F(ContextTest, DataQueuedBeforeConnectGoesOutRightAfterTheLayersAreTold) {
    TestLayer* layer = nullptr;
    auto context = MakeContext(0, &layer);
    context->Send("hello", 5);
    uint32_t pending = 0;
    const uint8_t* data = nullptr;
    context->GetSendBuffer(&data, &pending);
    EXPECT_EQ(pending, 5u);

    std::string seenWhenConnected = "unset";
    platform::sock::Handle peer = platform::sock::kInvalidHandle;
    layer->onConnected = [&] {
        uint32_t length = 0;
        context->GetSendBuffer(nullptr, &length);
        seenWhenConnected = std::to_string(length);
        layer->SendDown(nwDataChunk{reinterpret_cast<const uint8_t*>("!"), 1});
    };
    context->Connect(listener.Address());
    peer = listener.Accept();
    std::string got;
    ASSERT_TRUE(RunUntil([&] {
        Drain(peer, got);
        return got.size() >= 6;
    }));
    EXPECT_EQ(got, "hello!");
    EXPECT_EQ(seenWhenConnected, "5");  // nothing had gone out before the layers knew
    platform::sock::Close(peer);
}

TEST_F(ContextTest, PeerClosingWithUnreadDataDeliversTheDataFirst) {
    const std::string payload(200000, 'q');
    auto c = Connect(0);
    // Everything is sent and the connection closed before the loop runs again.
    SendAll(c.peer, payload);
    CloseGraceful(c.peer);
    ASSERT_TRUE(RunUntil([&] { return StateOf(c.context.Get()) == st::kClosed; }));
    EXPECT_EQ(c.layer->received.size(), payload.size());
    EXPECT_EQ(c.layer->log.back(), "closed");
    EXPECT_EQ(std::count(c.layer->log.begin(), c.layer->log.end(), "closed"), 1);
}

TEST_F(ContextTest, PeerResetClosesTheContext) {
    auto c = Connect(0);
    CloseReset(c.peer);
    ASSERT_TRUE(RunUntil([&] { return StateOf(c.context.Get()) == st::kClosed; }));
    EXPECT_EQ(c.layer->log, (std::vector<std::string>{"closed"}));
    EXPECT_EQ(c.context->Record(), nullptr);
}

TEST_F(ContextTest, DeferredEventForAnotherOrClosedRecordIsDropped) {
    auto c = Connect(qvWatch::kSocketError);
    c.context->RaiseError();
    cpSocketRecord stranger;
    c.context->OnDeferredEvent(stranger.serial);  // meant for another socket: the queue stays
    EXPECT_TRUE(c.layer->log.empty());
    ASSERT_TRUE(RunUntil([&] { return StateOf(c.context.Get()) == st::kClosed; }));
    EXPECT_EQ(c.layer->log, (std::vector<std::string>{"event:32", "closed"}));
    platform::sock::Close(c.peer);

    auto d = Connect(qvWatch::kSocketError);
    d.context->RaiseError();
    d.context->Close();  // the delivery now finds the record gone
    Spin(10);
    EXPECT_EQ(d.layer->log, (std::vector<std::string>{"closed"}));
    platform::sock::Close(d.peer);
}

TEST_F(ContextTest, OperationsOutsideTheirStatesFail) {
    qvSmartPtr<cpCQoSContext> fresh;
    ASSERT_TRUE(fresh.CreateInstance(qvClassId::kQoSContext));
    EXPECT_EQ(fresh->Close(), qv::kOk);  // never initialised: nothing happens
    EXPECT_EQ(StateOf(fresh.Get()), st::kNew);
    EXPECT_EQ(fresh->Connect(listener.Address()), qv::kFail);
    EXPECT_EQ(fresh->RearmEvents(), qv::kFail);

    auto context = MakeContext(0);
    EXPECT_EQ(context->Initialize(cpQoSAction::kHigh, 0, nullptr), qv::kFail);
    EXPECT_EQ(StateOf(context.Get()), st::kSocketReady);
    const auto* action = context->Action();
    EXPECT_EQ(context->SetAction(cpQoSAction::kHigh), qv::kOk);
    EXPECT_EQ(context->Action(), action);  // same type keeps the action
    EXPECT_EQ(context->SetAction(99), qv::kFail);
    EXPECT_EQ(context->Action(), nullptr);
    EXPECT_EQ(context->SetActionParameter(0, 5u), qv::kFail);
    EXPECT_EQ(context->SetTimeout(2, nullptr), qv::kFail);
    const int32_t value = 3;
    EXPECT_EQ(context->SetTimeout(2, &value), qv::kFail);
    context->Close();
    EXPECT_EQ(context->Connect(listener.Address()), qv::kFail);
    context->Send("late", 4);  // dropped after close
    uint32_t queued = 1;
    context->GetQueuedBytes(queued);
    EXPECT_EQ(queued, 0u);
}

TEST_F(ContextTest, HostNameLimitAndAddressReportsReachTheCache) {
    auto context = MakeContext(0);
    EXPECT_EQ(context->ReportAddressGood(), qv::kFail);  // no host name
    EXPECT_EQ(context->SetHostName(nullptr), qv::kFail);
    EXPECT_EQ(context->SetHostName(std::string(255, 'h').c_str()), qv::kOk);
    EXPECT_EQ(context->SetHostName(std::string(256, 'x').c_str()), qv::kFail);
    const char* name = nullptr;
    ASSERT_EQ(context->GetHostName(&name), qv::kOk);
    EXPECT_EQ(std::string(name), std::string(255, 'h'));
    EXPECT_EQ(context->GetHostName(nullptr), qv::kFail);

    platform::SetResolver([](const char*, std::vector<uint32_t>& out) {
        out = {0x0A000001u, 0x0A000002u};
        return true;
    });
    uint32_t ip = 0;
    ASSERT_TRUE(cpCHostCache::Instance().Resolve("ctx.test", 8080, ip));
    EXPECT_EQ(ip, 0x0A000001u);
    context->SetHostName("ctx.test");
    EXPECT_EQ(context->ReportAddressFailed(), qv::kFail);  // no remote address yet
    context->SetRemoteAddress(cpAddress{0x0A000002u, 8080});
    EXPECT_EQ(context->ReportAddressGood(), qv::kOk);
    ASSERT_TRUE(cpCHostCache::Instance().Resolve("ctx.test", 8080, ip));
    EXPECT_EQ(ip, 0x0A000002u);
    EXPECT_EQ(context->ReportAddressFailed(), qv::kOk);
    ASSERT_TRUE(cpCHostCache::Instance().Resolve("ctx.test", 8080, ip));
    EXPECT_EQ(ip, 0x0A000001u);
    platform::SetResolver(nullptr);
    context->Close();
}

TEST_F(ContextTest, RateMetersCountOnlyWhenWatched) {
    auto c = Connect(qvWatch::kCountSent | qvWatch::kCountReceived);
    uint32_t rate = 0;
    c.context->Send(std::string(3000, 's').data(), 3000);
    SendAll(c.peer, std::string(1000, 'r'));
    ASSERT_TRUE(RunUntil([&] { return c.layer->received.size() == 1000; }));
    clock->Advance(500);
    ASSERT_EQ(c.context->GetSendRate(rate), qv::kOk);
    EXPECT_EQ(rate, 6000u);
    ASSERT_EQ(c.context->GetReceiveRate(rate), qv::kOk);
    EXPECT_EQ(rate, 2000u);
    ASSERT_EQ(c.context->GetSendRate(rate), qv::kOk);  // reset by the query
    EXPECT_EQ(rate, 0u);
    c.context->ClearWatchFlags(qvWatch::kCountSent);
    EXPECT_EQ(c.context->GetSendRate(rate), qv::kFail);
    platform::sock::Close(c.peer);
}

TEST_F(ContextTest, ConnectByNameWaitsWithoutBlockingAndLateAnswersFindNoFreedContext) {
    tvxtest::HeldResolver resolver;
    const char* host = "ctx-wait.test";
    TestLayer* first = nullptr;
    TestLayer* second = nullptr;
    TestLayer* closed = nullptr;
    auto a = MakeContext(qvWatch::kConnectFailed, &first);
    auto b = MakeContext(qvWatch::kConnectFailed, &second);
    auto c = MakeContext(qvWatch::kConnectFailed, &closed);
    auto gone = MakeContext(qvWatch::kConnectFailed);
    for (cpCQoSContext* context : {a.Get(), b.Get(), c.Get(), gone.Get()}) {
        EXPECT_EQ(context->ConnectHost(host, listener.Port()), qv::kOk);
        EXPECT_EQ(StateOf(context), st::kResolving);
    }
    const char* name = nullptr;
    a->GetHostName(&name);
    EXPECT_STREQ(name, host);
    ASSERT_TRUE(resolver.WaitForLookups(host));
    c->Close();
    gone->Close();
    gone.Reset();  // freed while its lookup runs

    resolver.Release();
    ASSERT_TRUE(RunUntil([&] { return !first->log.empty() && !second->log.empty(); }));
    EXPECT_EQ(first->log, (std::vector<std::string>{"connected"}));
    EXPECT_EQ(second->log, (std::vector<std::string>{"connected"}));
    EXPECT_EQ(closed->log, (std::vector<std::string>{"closed"}));
    EXPECT_EQ(resolver.Lookups(host), 1);  // one lookup served every waiter
    const cpAddress* remote = nullptr;
    a->GetRemoteAddress(remote);
    EXPECT_EQ(remote->ip, kLoopback);
    EXPECT_EQ(remote->port, listener.Port());
    for (int i = 0; i < 2; ++i)
        platform::sock::Close(listener.Accept());

    // Known now: the next connection to the host connects without a lookup.
    TestLayer* third = nullptr;
    auto d = MakeContext(0, &third);
    EXPECT_EQ(d->ConnectHost(host, listener.Port()), qv::kOk);
    EXPECT_NE(StateOf(d.Get()), st::kResolving);
    ASSERT_TRUE(RunUntil([&] { return !third->log.empty(); }));
    EXPECT_EQ(third->log, (std::vector<std::string>{"connected"}));
    EXPECT_EQ(resolver.Lookups(host), 1);
    platform::sock::Close(listener.Accept());
}

TEST_F(ContextTest, NameServerThatNeverAnswersEndsAtTheConnectTimeout) {
    tvxtest::HeldResolver resolver;
    TestLayer* layer = nullptr;
    auto context = MakeContext(qvWatch::kConnectFailed, &layer);
    ASSERT_EQ(context->ConnectHost("ctx-hang.test", listener.Port()), qv::kOk);
    ASSERT_TRUE(resolver.WaitForLookups("ctx-hang.test"));
    AdvanceAndTick(4980);
    Spin(5);
    EXPECT_EQ(StateOf(context.Get()), st::kResolving);
    AdvanceAndTick(20);
    EXPECT_EQ(StateOf(context.Get()), st::kConnectFailed);
    ASSERT_TRUE(RunUntil([&] { return StateOf(context.Get()) == st::kClosed; }));
    EXPECT_EQ(layer->log, (std::vector<std::string>{"event:1", "closed"}));
    // The answer that comes after all changes nothing.
    resolver.Release();
    Spin(20);
    EXPECT_EQ(layer->log, (std::vector<std::string>{"event:1", "closed"}));
}

TEST_F(ContextTest, NameThatDoesNotResolveEndsLikeAnUnreachableHost) {
    tvxtest::HeldResolver resolver;
    const char* host = "nowhere.ctx.test";
    TestLayer* layer = nullptr;
    auto context = MakeContext(qvWatch::kConnectFailed, &layer);
    ASSERT_EQ(context->ConnectHost(host, 80), qv::kOk);
    ASSERT_TRUE(resolver.WaitForLookups(host));
    resolver.Release();
    ASSERT_TRUE(RunUntil([&] { return StateOf(context.Get()) == st::kClosed; }));
    EXPECT_EQ(layer->log, (std::vector<std::string>{"failed", "event:1", "closed"}));
    // Within five seconds the cache answers from what it knows, at once.
    auto again = MakeContext(qvWatch::kConnectFailed);
    EXPECT_EQ(again->ConnectHost(host, 80), qv::kFail);
    EXPECT_EQ(StateOf(again.Get()), st::kSocketReady);
    EXPECT_EQ(resolver.Lookups(host), 1);
    // Bad names and states are refused.
    EXPECT_EQ(again->ConnectHost("", 80), qv::kFail);
    EXPECT_EQ(again->ConnectHost(std::string(256, 'h').c_str(), 80), qv::kFail);
    EXPECT_EQ(context->ConnectHost("ctx-wait.test", 80), qv::kFail);  // closed
}

}  // namespace
