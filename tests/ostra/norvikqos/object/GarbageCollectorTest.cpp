#include <gtest/gtest.h>

#include "ostra/norvikqos/core/COstra.h"
#include "ostra/norvikqos/core/cpCTimerManager.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"
#include "platform/Clock.h"

namespace {

class Probe : public qvCUnknown {
  public:
    explicit Probe(bool* alive) : alive_(alive) { *alive_ = true; }
    ~Probe() override { *alive_ = false; }

  private:
    bool* alive_;
};

TEST(GarbageCollectorTest, DeferredObjectLivesThreeToSevenSeconds) {
    // 10:00:00.900 local time of some day; only the seconds matter.
    platform::ScopedManualClock clock(36000, 900);
    qvSmartPtr<cpCMutex> lock;
    ASSERT_TRUE(lock.CreateInstance(qvClassId::kMutex));
    COstra ostra(lock, nullptr);  // timers driven by hand below

    bool alive = false;
    qvCGarbageCollector::Instance().Defer(qvMakeObject<Probe>(&alive));
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>());  // ignored
    EXPECT_EQ(qvCGarbageCollector::Instance().Pending(), 1u);
    ASSERT_TRUE(alive);

    // Drive the 100 ms tick: the sweep runs every 3 s from construction.
    auto runUntil = [&](uint32_t seconds, uint16_t ms) {
        while (platform::Clock().Now().seconds < seconds ||
               (platform::Clock().Now().seconds == seconds &&
                platform::Clock().Now().milliseconds < ms)) {
            clock->Advance(100);
            std::lock_guard guard(*lock);
            cpCTimerManager::Instance()->Tick();
        }
    };
    runUntil(36003, 900);
    EXPECT_TRUE(alive) << "still alive at 10:00:03.9";
    runUntil(36006, 900);
    EXPECT_FALSE(alive) << "released by the first sweep at or after 10:00:04";
}

TEST(GarbageCollectorTest, SweepStopsAtTheFirstEntryNotDueAndShutdownDropsTheRest) {
    platform::ScopedManualClock clock(1000, 0);
    bool first = false;
    bool second = false;
    {
        qvCGarbageCollector collector;  // no timer manager: swept by hand
        collector.Defer(qvMakeObject<Probe>(&first));
        clock->Advance(2000);
        collector.Defer(qvMakeObject<Probe>(&second));
        clock->Advance(2000);  // 1004: first due (1003 < 1004), second not (1005)
        collector.Sweep();
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
        EXPECT_EQ(collector.Pending(), 1u);
    }
    EXPECT_FALSE(second);
}

}  // namespace
