#include <gtest/gtest.h>

#include "platform/Clock.h"

TEST(ClockTest, ManualClockMovesOnlyWhenTold) {
    platform::ScopedManualClock clock(10, 950);
    EXPECT_EQ(platform::Clock().Now().seconds, 10u);
    EXPECT_EQ(platform::Clock().Now().milliseconds, 950u);
    clock->Advance(1100);
    EXPECT_EQ(platform::Clock().Now().seconds, 12u);
    EXPECT_EQ(platform::Clock().Now().milliseconds, 50u);
    EXPECT_EQ(platform::Clock().CalendarSeconds(), 12u);
    clock->Advance(-3000);
    EXPECT_EQ(platform::Clock().CalendarSeconds(), 9u);
    EXPECT_EQ(platform::ElapsedMs({9, 50}, {12, 40}), 2990);
}
