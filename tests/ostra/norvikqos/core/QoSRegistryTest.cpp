// The socket registry's slot table: rotation, a full table, stray events.
#include <gtest/gtest.h>

#include <vector>

#include "NetTestSupport.h"
#include "ostra/norvikqos/core/cpCQoS.h"

using namespace nettest;

namespace {

class QoSRegistryTest : public ::testing::Test, public NetFixture {};

int32_t SlotOf(const qvSmartPtr<cpCQoSContext>& context) {
    return context->Record() ? context->Record()->eventSlot : -1;
}

TEST_F(QoSRegistryTest, SlotsAreUsedInRotationAndAFullTableFailsCleanly) {
    cpCQoS& registry = *cpCQoS::Instance();
    std::vector<qvSmartPtr<cpCQoSContext>> live;
    for (int i = 0; i < 3; ++i)
        live.push_back(MakeContext(0));
    EXPECT_EQ(SlotOf(live[0]), 0);
    EXPECT_EQ(SlotOf(live[1]), 1);
    EXPECT_EQ(SlotOf(live[2]), 2);

    live[1]->Close();
    EXPECT_EQ(registry.ContextAt(1), nullptr);
    auto fourth = MakeContext(0);
    EXPECT_EQ(SlotOf(fourth), 3);  // not the freed slot 1
    for (int slot = 4; slot < cpCQoS::kSlotCount; ++slot) {
        live.push_back(MakeContext(0));
        ASSERT_EQ(SlotOf(live.back()), slot);
    }
    auto wrapped = MakeContext(0);
    EXPECT_EQ(SlotOf(wrapped), 1);  // reused only after the search wrapped past 63

    // All 64 in use: the next context cannot register and nobody is displaced.
    std::vector<cpCQoSContext*> before;
    for (int slot = 0; slot < cpCQoS::kSlotCount; ++slot)
        before.push_back(registry.ContextAt(slot));
    qvSmartPtr<cpCQoSContext> extra;
    ASSERT_TRUE(extra.CreateInstance(qvClassId::kQoSContext));
    EXPECT_EQ(extra->Initialize(cpQoSAction::kHigh, 0, nullptr), qv::kFail);
    EXPECT_EQ(StateOf(extra.Get()), qvContextState::kNew);
    for (int slot = 0; slot < cpCQoS::kSlotCount; ++slot)
        EXPECT_EQ(registry.ContextAt(slot), before[static_cast<size_t>(slot)]);

    // Once a slot frees up, the same context registers there.
    const int32_t freed = SlotOf(live[5]);
    live[5]->Close();
    EXPECT_EQ(extra->Initialize(cpQoSAction::kHigh, 0, nullptr), qv::kOk);
    EXPECT_EQ(SlotOf(extra), freed);
}

TEST_F(QoSRegistryTest, EventsForUnknownSlotsAreIgnored) {
    cpCQoS& registry = *cpCQoS::Instance();
    auto context = MakeContext(0);
    EXPECT_EQ(registry.ContextAt(70), nullptr);
    EXPECT_EQ(registry.ContextAt(-1), nullptr);
    registry.OnSocketEvent(70, platform::SocketEvent::Readable, 0);
    registry.OnSocketEvent(5, platform::SocketEvent::ClosedByPeer, 0);  // empty slot
    registry.OnDeferred(70, context->Record()->serial);
    EXPECT_EQ(StateOf(context.Get()), qvContextState::kSocketReady);
    EXPECT_EQ(registry.ContextAt(0), context.Get());
}

}  // namespace
