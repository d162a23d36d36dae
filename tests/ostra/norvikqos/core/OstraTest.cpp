// The network core's start and stop, and what its singletons drive.
#include <gtest/gtest.h>

#include <mutex>

#include "NetTestSupport.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/core/cpCSocket.h"
#include "ostra/norvikqos/core/cpCTimerManager.h"
#include "ostra/norvikqos/core/cpSocketOps.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"

using namespace nettest;

namespace {

TEST(OstraTest, StartsTheSingletonsInOrderAndTakesThemDown) {
    platform::ScopedManualClock clock;
    platform::EventLoop loop;
    auto lock = qvMakeObject<cpCMutex>();
    {
        std::lock_guard guard(*lock);
        COstra ostra(lock, &loop);
        EXPECT_EQ(ostra.StartResult(), qv::kOk);
        ASSERT_NE(cpCTimerManager::Instance(), nullptr);
        ASSERT_NE(cpCQoS::Instance(), nullptr);
        // The registry's second and the collector's sweep.
        EXPECT_EQ(cpCTimerManager::Instance()->RegistrationCount(), 2u);
        ostra.Stop();
    }
    EXPECT_EQ(cpCTimerManager::Instance(), nullptr);
    EXPECT_EQ(cpCQoS::Instance(), nullptr);
    EXPECT_TRUE(loop.IsValid());
    EXPECT_FALSE(loop.TickRunning());
}

TEST(OstraTest, WithoutAnEventLoopTheStartFailsAndNoContextRegisters) {
    platform::ScopedManualClock clock;
    auto lock = qvMakeObject<cpCMutex>();
    std::lock_guard guard(*lock);
    COstra ostra(lock, nullptr);
    EXPECT_EQ(ostra.StartResult(), qv::kFail);
    qvSmartPtr<cpCQoSContext> context;
    ASSERT_TRUE(context.CreateInstance(qvClassId::kQoSContext));
    EXPECT_EQ(context->Initialize(cpQoSAction::kHigh, 0, nullptr), qv::kFail);
}

class OstraTimersTest : public ::testing::Test, public NetFixture {};

TEST_F(OstraTimersTest, TheTickDrivesTheSecondStepAndTheDeferredRelease) {
    auto context = MakeContext(0);
    AdvanceAndTick(1000);
    EXPECT_EQ(context->SecondsAlive(), 1);

    context->Close();
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(context.Get()));
    cpCQoSContext* raw = context.Get();
    context.Reset();
    EXPECT_EQ(qvCGarbageCollector::Instance().Pending(), 1u);
    for (int i = 0; i < 8 && qvCGarbageCollector::Instance().Pending() > 0; ++i)
        AdvanceAndTick(1000);
    EXPECT_EQ(qvCGarbageCollector::Instance().Pending(), 0u);
    (void)raw;
}

TEST(SocketObjectTest, AcceptGivesThePeerPortInHostOrder) {
    auto listener = qvMakeObject<cpCSocket>();
    ASSERT_EQ(listener->Create(0), qv::kOk);
    EXPECT_EQ(listener->Create(0), qv::kAlreadyCreated);
    ASSERT_EQ(listener->Bind(cpAddress{kLoopback, 0}), qv::kOk);
    ASSERT_EQ(listener->Listen(), qv::kOk);
    cpAddress bound;
    ASSERT_EQ(cpSock::LocalAddress(listener->Record(), bound), qv::kOk);

    auto client = qvMakeObject<cpCSocket>();
    ASSERT_EQ(client->Create(0), qv::kOk);
    ASSERT_EQ(client->Connect(cpAddress{kLoopback, bound.port}), qv::kOk);  // blocking
    cpAddress clientAddress;
    cpSock::LocalAddress(client->Record(), clientAddress);

    cpSocketRecordPtr accepted;
    cpAddress peer;
    ASSERT_EQ(listener->Accept(accepted, peer), qv::kOk);
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(peer.port, clientAddress.port);
    EXPECT_EQ(peer.ip, kLoopback);
    EXPECT_EQ(accepted->address.port, clientAddress.port);

    int32_t n = 0;
    ASSERT_EQ(client->Send("ping", 4, n), qv::kOk);
    char buffer[8] = {};
    ASSERT_EQ(cpSock::Receive(accepted.get(), buffer, sizeof buffer, n), qv::kOk);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "ping");

    client->Close();
    EXPECT_EQ(client->Record(), nullptr);
    EXPECT_EQ(client->Send("x", 1, n), qv::kBadArgument);
    EXPECT_EQ(cpSock::Receive(accepted.get(), buffer, sizeof buffer, n), qv::kFail);  // closed
    EXPECT_EQ(listener->EnableBroadcast(1), qv::kFail);
    EXPECT_EQ(listener->Nop(), qv::kOk);
}

TEST(SocketObjectTest, RecordChecksComeFirst) {
    cpSocketRecord invalid;
    int32_t n = 0;
    char byte = 0;
    EXPECT_EQ(cpSock::Send(nullptr, &byte, 1, n), qv::kBadArgument);
    EXPECT_EQ(cpSock::Send(&invalid, &byte, 1, n), qv::kInvalidSocket);
    cpAddress address;
    EXPECT_EQ(cpSock::ReceiveFrom(&invalid, &byte, 1, address, n), qv::kInvalidSocket);
    EXPECT_EQ(cpSock::Connect(&invalid, address), qv::kInvalidSocket);
    int32_t slot = 0;
    EXPECT_EQ(cpSock::Unregister(nullptr, &invalid, slot), qv::kFail);  // not registered
    EXPECT_EQ(cpSock::PostDeferred(&invalid), qv::kFail);
}

}  // namespace
