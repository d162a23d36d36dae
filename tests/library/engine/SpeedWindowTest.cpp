#include <gtest/gtest.h>

#include "library/engine/SpeedWindow.h"

namespace {

TEST(SpeedWindowTest, AveragesTheSamplesOfTheTenSecondsBeforeTheNewest) {
    SpeedWindow window;
    EXPECT_EQ(window.Average(), 0);
    window.Add(100, 1000);
    window.Add(101, 3000);
    EXPECT_EQ(window.Average(), 2000);
    // Samples more than ten seconds older than the newest one no longer count.
    window.Add(112, 500);
    EXPECT_EQ(window.Average(), 500);
    // Eleven samples: the oldest is overwritten.
    SpeedWindow full;
    for (int i = 1; i <= 11; ++i)
        full.Add(200 + i, i == 1 ? 1000000 : 10);
    EXPECT_EQ(full.Average(), 10);
    full.Reset();
    EXPECT_EQ(full.Average(), 0);
}

}  // namespace
