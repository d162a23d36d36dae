// Budgeted I/O actions over real loopback sockets, with the once-a-second
// refill driven by hand: exact bytes per second, returned grants, blocked
// directions resumed by re-arming, shared process budgets and the type table.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <deque>
#include <string>
#include <thread>

#include "NetTestSupport.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/qos/cpCQoSOwnContextAction.h"

using namespace nettest;
namespace sock = platform::sock;

namespace {

std::string Pattern(size_t size, size_t offset = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (offset + i) % 26);
    return bytes;
}

struct Peer {
    qvSmartPtr<cpCQoSContext> context;
    TestLayer* layer = nullptr;
    sock::Handle peer = sock::kInvalidHandle;
    std::string peerGot;  // what the peer has read so far
};

class BandwidthTest : public ::testing::Test, public NetFixture {
  protected:
    ~BandwidthTest() override {
        for (Peer& p : peers_) {
            if (p.context)
                p.context->Close();
            sock::Close(p.peer);
        }
        cpCQoS::Instance()->ProcessBudget() = cpCQoS::Budget{};
    }

    // A connected context under the given action, limits set when it has its own.
    // With wholeSeconds the limits are set after a first limit of 0, so they
    // count from the next refill and each test counts whole seconds; otherwise
    // a first limit is good at once for what is left of the current second.
    Peer& Open(int32_t type, uint32_t receiveLimit = 0, uint32_t sendLimit = 0,
               bool wholeSeconds = true) {
        Peer& p = peers_.emplace_back();
        p.context = MakeContext(0, &p.layer);
        EXPECT_EQ(p.context->SetAction(type), qv::kOk);
        if (wholeSeconds) {
            p.context->SetActionParameter(cpQoSAction::kDirectionReceive, 0);
            p.context->SetActionParameter(cpQoSAction::kDirectionSend, 0);
        }
        p.context->SetActionParameter(cpQoSAction::kDirectionReceive, receiveLimit);
        p.context->SetActionParameter(cpQoSAction::kDirectionSend, sendLimit);
        p.context->Connect(listener.Address());
        p.peer = listener.Accept();
        EXPECT_TRUE(RunUntil([&] { return !p.layer->log.empty(); }));
        return p;
    }
    static const cpCQoSOwnContextAction* Own(const Peer& p) {
        return dynamic_cast<const cpCQoSOwnContextAction*>(p.context->Action());
    }
    static const cpCQoSLowContextAction* Low(const Peer& p) {
        return dynamic_cast<const cpCQoSLowContextAction*>(p.context->Action());
    }
    // One second of clock and the timer pass: the registry's one-second timer
    // refills and steps every context, as on the worker thread.
    void Refill() { AdvanceAndTick(1000); }
    void RunFor(int ms) {
        RunUntil([] { return false; }, ms);
    }
    // Runs the loop briefly and collects what every peer received meanwhile.
    void Settle(int ms = 60) {
        Spin(10);
        RunFor(ms);
        for (Peer& p : peers_) {
            char buffer[65536];
            ssize_t n;
            while ((n = recv(p.peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                p.peerGot.append(buffer, static_cast<size_t>(n));
        }
    }

    Listener listener{16};
    std::deque<Peer> peers_;
};

TEST_F(BandwidthTest, OwnReceiveLimitGivesExactlyTheLimitEachSecondInOrder) {
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 2048);
    const std::string sent = Pattern(10000);
    SendAll(p.peer, sent);
    // Before the first refill there is no budget: the read event takes nothing.
    ASSERT_TRUE(RunUntil([&] { return Low(p)->IsReceiveBlocked(); }));
    EXPECT_EQ(p.layer->received.size(), 0u);

    for (size_t second = 1; second <= 3; ++second) {
        SCOPED_TRACE(second);
        Refill();
        ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() >= 2048 * second; }));
        Settle();
        EXPECT_EQ(p.layer->received.size(), 2048 * second);
        EXPECT_TRUE(Low(p)->IsReceiveBlocked());
        EXPECT_EQ(Own(p)->ReceiveBudget().used, 2048u);
    }
    EXPECT_EQ(p.layer->received, sent.substr(0, 3 * 2048));
}

TEST(BandwidthGrantTest, ReadBlocksScaleWithTheOwnLimit) {
    struct Case {
        uint32_t limit;
        uint32_t block;
    };
    const Case cases[] = {{0, 1024},      {1500, 1024},     {2048, 1024},
                          {393216, 6144}, {4194304, 65536}, {104857600, 65536}};
    for (const Case& c : cases) {
        cpSocketRecordPtr record;
        cpQoSChunk chunk;
        cpQoSReceiveBuffer buffer;
        cpCQoSOwnContextAction action(record, chunk, buffer);
        action.SetParameter(cpQoSAction::kDirectionReceive, c.limit);
        EXPECT_EQ(action.ReceiveBlock(), c.block) << c.limit;
    }
}

TEST_F(BandwidthTest, FirstLimitIsGoodForTheRestOfTheCurrentSecond) {
    // A new connection gets its limit's share of what is left of the second
    // at once, instead of standing still until the refill.
    clock->Advance(250);
    const uint32_t left = cpCQoS::Instance()->MsUntilNextSecond();
    ASSERT_GT(left, 0u);
    ASSERT_LT(left, 1000u);
    const size_t share = 2048u * left / 1000u;
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 2048, 0, false);
    SendAll(p.peer, Pattern(10000));
    ASSERT_TRUE(RunUntil([&] { return Low(p)->IsReceiveBlocked(); }));
    EXPECT_EQ(p.layer->received.size(), share);
    Refill();
    ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() >= share + 2048u; }));
    Settle();
    EXPECT_EQ(p.layer->received.size(), share + 2048u);
}

TEST_F(BandwidthTest, BudgetLeftByAnEarlierConnectionCapsTheCurrentSecond) {
    clock->Advance(250);
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 2048, 0, false);
    p.context->SetActionParameter(cpQoSAction::kDirectionReceiveLeft, 100);
    SendAll(p.peer, Pattern(10000));
    ASSERT_TRUE(RunUntil([&] { return Low(p)->IsReceiveBlocked(); }));
    EXPECT_EQ(p.layer->received.size(), 100u);
    Refill();
    ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() >= 100u + 2048u; }));
    Settle();
    EXPECT_EQ(p.layer->received.size(), 100u + 2048u);
}

TEST_F(BandwidthTest, ShortReadGivesBackTheRestOfItsGrantForTheSameSecond) {
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 1500);
    SendAll(p.peer, Pattern(1324));
    ASSERT_TRUE(RunUntil([&] { return Low(p)->IsReceiveBlocked(); }));
    Refill();
    // Grants of 1024 and 476; the second read finds only 300 bytes.
    ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() == 1324; }));
    EXPECT_EQ(Own(p)->ReceiveBudget().budget, 176u);
    EXPECT_EQ(Own(p)->ReceiveBudget().used, 1324u);
    EXPECT_FALSE(Low(p)->IsReceiveBlocked());

    SendAll(p.peer, Pattern(500, 1324));
    ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() >= 1500; }));
    Settle();
    EXPECT_EQ(p.layer->received.size(), 1500u);
    EXPECT_EQ(Own(p)->ReceiveBudget().budget, 0u);
    EXPECT_TRUE(Low(p)->IsReceiveBlocked());

    Refill();
    ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() == 1824; }));
    EXPECT_EQ(p.layer->received, Pattern(1824));
}

TEST_F(BandwidthTest, SendLimitZeroKeepsDataQueuedUntilALimitIsSet) {
    Peer& p = Open(cpQoSAction::kOwnSendOnly, 0, 0);
    const std::string data = Pattern(5000);
    p.context->Send(data.data(), static_cast<uint32_t>(data.size()));
    for (int i = 0; i < 3; ++i) {
        Refill();
        Settle();
    }
    EXPECT_TRUE(p.peerGot.empty());
    uint32_t length = 0;
    p.context->GetSendBuffer(nullptr, &length);
    EXPECT_EQ(length, 5000u);

    // A new limit counts from the next refill.
    p.context->SetActionParameter(cpQoSAction::kDirectionSend, 4096);
    Settle();
    EXPECT_TRUE(p.peerGot.empty());
    Refill();
    Settle();
    EXPECT_EQ(p.peerGot.size(), 4096u);
    Refill();
    Settle();
    EXPECT_EQ(p.peerGot, data);
}

TEST_F(BandwidthTest, BlockedBothWaysResumesReceivingFirstAndSendingOnceReceiveIsClear) {
    Peer& p = Open(cpQoSAction::kOwn, 1024, 1024);
    SendAll(p.peer, Pattern(1024));
    const std::string out = Pattern(2048, 7);
    p.context->Send(out.data(), static_cast<uint32_t>(out.size()));
    ASSERT_TRUE(RunUntil([&] { return Low(p)->IsReceiveBlocked() && Low(p)->IsSendBlocked(); }));

    struct Step {
        size_t received;
        size_t sent;
    };
    // Refill 1 takes the receive flag (set again once the 1024 are read),
    // refill 2 takes it once more, refill 3 finds it clear and resumes sending.
    const Step steps[] = {{1024, 0}, {1024, 0}, {1024, 1024}, {1024, 2048}};
    int refill = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(++refill);
        Refill();
        Settle();
        EXPECT_EQ(p.layer->received.size(), step.received);
        EXPECT_EQ(p.peerGot.size(), step.sent);
    }
    EXPECT_EQ(p.peerGot, out);
}

TEST_F(BandwidthTest, ProcessReceiveBudgetIsSharedByAllProcessBudgetContexts) {
    cpCQoS::Budget& budget = cpCQoS::Instance()->ProcessBudget();
    budget.receiveLimit = 3000;
    Peer& a = Open(cpQoSAction::kLowServerReceiveOnly);
    Peer& b = Open(cpQoSAction::kLowServerReceiveOnly);
    SendAll(a.peer, Pattern(4000));
    SendAll(b.peer, Pattern(4000));
    ASSERT_TRUE(RunUntil([&] { return Low(a)->IsReceiveBlocked() && Low(b)->IsReceiveBlocked(); }));

    for (size_t second = 1; second <= 2; ++second) {
        SCOPED_TRACE(second);
        Refill();
        Settle();
        const size_t got = a.layer->received.size() + b.layer->received.size();
        EXPECT_EQ(got, 3000 * second);
        EXPECT_EQ(budget.receiveUsed, 3000u);
        // Whoever read first took the whole second; the other found nothing left.
        if (second == 1) {
            EXPECT_EQ(std::min(a.layer->received.size(), b.layer->received.size()), 0u);
        }
    }
    Refill();
    Settle();
    EXPECT_EQ(a.layer->received.size() + b.layer->received.size(), 8000u);
}

TEST_F(BandwidthTest, EachTypeThrottlesItsDirectionsFromItsBudgetSource) {
    // Every budget at 0: a throttled direction moves nothing, a free one all.
    cpCQoS::Budget& budget = cpCQoS::Instance()->ProcessBudget();
    budget.receiveLimit = budget.sendLimit = 0;
    struct Case {
        int32_t type;
        bool receiveThrottled;
        bool sendThrottled;
    };
    const Case cases[] = {
        {cpQoSAction::kHigh, false, false},
        {cpQoSAction::kLowServer, true, true},
        {cpQoSAction::kLowServerReceiveOnly, true, false},
        {cpQoSAction::kLowServerSendOnly, false, true},
        {cpQoSAction::kOwn, true, true},
        {cpQoSAction::kOwnReceiveOnly, true, false},
        {cpQoSAction::kOwnSendOnly, false, true},
    };
    const std::string data = Pattern(20000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Peer& p = Open(c.type);
        EXPECT_EQ(p.context->Action()->Type(), c.type);
        SendAll(p.peer, data);
        p.context->Send(data.data(), static_cast<uint32_t>(data.size()));
        Refill();
        Settle();
        EXPECT_EQ(p.layer->received.size(), c.receiveThrottled ? 0u : data.size());
        EXPECT_EQ(p.peerGot.size(), c.sendThrottled ? 0u : data.size());
    }
    for (const int32_t unknown : {0, 8, -1}) {
        qvSmartPtr<cpCQoSContext> context;
        ASSERT_TRUE(context.CreateInstance(qvClassId::kQoSContext));
        EXPECT_EQ(context->Initialize(unknown, 0, nullptr), qv::kFail);
        EXPECT_EQ(context->Action(), nullptr);
        EXPECT_EQ(context->SetActionParameter(cpQoSAction::kDirectionReceive, 1), qv::kFail);
        context->Close();
    }
}

TEST_F(BandwidthTest, SameTypeKeepsTheActionAndAnotherTypeStartsFromZero) {
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 2048);
    Refill();
    SendAll(p.peer, Pattern(1024));
    ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() == 1024; }));
    const cpCQoSContextAction* before = p.context->Action();
    EXPECT_EQ(p.context->SetAction(cpQoSAction::kOwnReceiveOnly), qv::kOk);
    EXPECT_EQ(p.context->Action(), before);
    EXPECT_EQ(Own(p)->ReceiveBudget().budget, 1024u);
    EXPECT_EQ(Own(p)->ReceiveBudget().limit, 2048u);

    EXPECT_EQ(p.context->SetAction(cpQoSAction::kOwn), qv::kOk);
    EXPECT_EQ(Own(p)->Type(), cpQoSAction::kOwn);
    EXPECT_EQ(Own(p)->ReceiveBudget().limit, 0u);
    EXPECT_EQ(Own(p)->ReceiveBudget().budget, 0u);
    SendAll(p.peer, Pattern(500));
    Refill();
    Settle();
    EXPECT_EQ(p.layer->received.size(), 1024u);
    p.context->SetActionParameter(cpQoSAction::kDirectionReceive, 4096);
    Refill();
    Settle();
    EXPECT_EQ(p.layer->received.size(), 1524u);
}

TEST_F(BandwidthTest, PeerThatClosesWhileThrottledIsReadToTheEndBeforeTheClose) {
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 2048);
    const std::string sent = Pattern(5000);
    SendAll(p.peer, sent);
    CloseGraceful(p.peer);
    p.peer = sock::kInvalidHandle;
    for (const size_t expected : {2048u, 4096u, 5000u}) {
        Refill();
        ASSERT_TRUE(RunUntil([&] { return p.layer->received.size() >= expected; }));
        EXPECT_EQ(p.layer->received.size(), expected);
    }
    ASSERT_TRUE(RunUntil([&] { return StateOf(p.context.Get()) == qvContextState::kClosed; }));
    EXPECT_EQ(p.layer->received, sent);
    EXPECT_EQ(p.layer->log.back(), "closed");
}

TEST_F(BandwidthTest, LargeBudgetStillHandsBackAfterAboutOneMebibytePerReadEvent) {
    Peer& p = Open(cpQoSAction::kOwnReceiveOnly, 0x6400000);
    Refill();
    constexpr size_t kTotal = 4u << 20;
    const sock::Handle peer = p.peer;
    std::thread sender([peer] { SendAll(peer, std::string(kTotal, 'x')); });
    const bool all = RunUntil([&] { return p.layer->received.size() == kTotal; }, 5000);
    sender.join();
    ASSERT_TRUE(all);
    size_t largest = 0;
    for (const std::string& entry : p.layer->log) {
        if (entry.rfind("recv:", 0) == 0)
            largest = std::max<size_t>(largest, std::stoul(entry.substr(5)));
    }
    EXPECT_LE(largest, cpQoSAction::kReceiveLimit + cpQoSAction::kLargeReceiveBlock);
}

}  // namespace
