// Timers on the manual clock, with the manager's passes driven by hand.
#include <gtest/gtest.h>

#include <vector>

#include "ostra/norvikqos/core/cpCTimerManager.h"
#include "platform/Clock.h"

namespace {

struct Fired {
    std::vector<int> order;
};

class TimerTest : public ::testing::Test {
  protected:
    qvSmartPtr<cpCTimer> MakeTimer(uint32_t intervalMs, cpTimerCallback callback, void* user) {
        qvSmartPtr<cpCTimer> timer;
        EXPECT_TRUE(timer.CreateInstance(qvClassId::kTimer));
        EXPECT_EQ(timer->Start(intervalMs, callback, user, cpTimerTag::kConnectionTimeouts),
                  qv::kOk);
        return timer;
    }
    void TickAt(uint32_t seconds, uint16_t ms) {
        clock->Set(seconds, ms);
        manager.Tick();
    }
    static void Count(void* user) { ++*static_cast<int*>(user); }

    platform::ScopedManualClock clock{10, 950};
    qvSmartPtr<cpCMutex> lock = qvMakeObject<cpCMutex>();
    cpCTimerManager manager{lock, nullptr};
};

TEST_F(TimerTest, FiresAtTheFirstTickWithinTenMillisecondsOfEachDueTime) {
    int fired = 0;
    auto timer = MakeTimer(1000, &Count, &fired);
    EXPECT_EQ(timer->Due().seconds, 11u);
    EXPECT_EQ(timer->Due().milliseconds, 950u);
    TickAt(11, 939);
    EXPECT_EQ(fired, 0);
    TickAt(11, 940);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(timer->Due().seconds, 12u);  // anchored: no drift from the early firing
    EXPECT_EQ(timer->Due().milliseconds, 950u);
    TickAt(12, 939);
    EXPECT_EQ(fired, 1);
    TickAt(14, 0);  // late: one firing per pass, never a burst
    EXPECT_EQ(fired, 2);
    TickAt(14, 100);
    EXPECT_EQ(fired, 3);
    timer->Stop();
}

TEST_F(TimerTest, ClockStepsOfThreeSecondsReanchorEveryTimer) {
    struct Case {
        int64_t step;
        bool jump;
    };
    for (const Case c : {Case{2999, false}, Case{3000, true}, Case{-2999, false}, Case{-3000, true},
                         Case{5000, true}}) {
        SCOPED_TRACE(c.step);
        clock->Set(100, 0);
        int fired = 0;
        auto timer = MakeTimer(1000, &Count, &fired);
        TickAt(100, 500);
        clock->Advance(c.step);
        manager.Tick();
        const platform::WallTime now = platform::Clock().Now();
        if (c.jump) {
            EXPECT_EQ(fired, 0);
            EXPECT_EQ(platform::ElapsedMs(now, timer->Due()), 1000);
        } else if (c.step > 0) {
            EXPECT_EQ(fired, 1);  // due at 101.000 and fired from the old anchor
            EXPECT_EQ(timer->Due().seconds, 102u);
        } else {
            EXPECT_EQ(fired, 0);
            EXPECT_EQ(timer->Due().seconds, 101u);
        }
        timer->Stop();
        // A fresh history for the next case: the previous tick is far away.
        clock->Set(1, 0);
        manager.Tick();
    }
}

struct StopPass {
    cpCTimer* other = nullptr;
    std::vector<int>* order = nullptr;
    int id = 0;
};

void StopOther(void* user) {
    auto* pass = static_cast<StopPass*>(user);
    pass->order->push_back(pass->id);
    if (pass->other)
        pass->other->Stop();
}

TEST_F(TimerTest, TimerStoppedByAnEarlierCallbackDoesNotFireInThatPass) {
    std::vector<int> order;
    StopPass first{nullptr, &order, 1};
    StopPass second{nullptr, &order, 2};
    auto a = MakeTimer(1000, &StopOther, &first);
    auto b = MakeTimer(1000, &StopOther, &second);
    first.other = b.Get();
    TickAt(12, 0);  // both due
    EXPECT_EQ(order, (std::vector<int>{1}));
    EXPECT_FALSE(b->IsRunning());
    EXPECT_EQ(manager.RegistrationCount(), 1u);

    // A callback that stops its own timer makes a one-shot.
    first.other = a.Get();
    TickAt(13, 0);
    TickAt(14, 0);
    EXPECT_EQ(order, (std::vector<int>{1, 1}));
    EXPECT_EQ(manager.RegistrationCount(), 0u);
}

// interval x firings passes 32 bits at the second firing of a 3e9 ms timer
// (about 35 days); the schedule must carry on from the anchor, not from a
// wrapped offset that lies in the past and fires at every tick.
TEST_F(TimerTest, KeepsItsSchedulePastThirtyTwoBitsOfMilliseconds) {
    constexpr uint32_t kInterval = 3000000000u;
    int fired = 0;
    auto timer = MakeTimer(kInterval, &Count, &fired);
    // The manager's first pass sees no previous tick, so this step is no jump.
    TickAt(10 + 3000000, 950);
    ASSERT_EQ(fired, 1);
    EXPECT_EQ(timer->Due().seconds, 10u + 6000000u);
    EXPECT_EQ(timer->Due().milliseconds, 950u);
    TickAt(10 + 3000001, 950);
    TickAt(10 + 3000002, 900);
    EXPECT_EQ(fired, 1);
    timer->Stop();
}

}  // namespace
