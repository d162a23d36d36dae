#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "library/api/TarvoLib.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

using tarvo::result::kNotReady;
using tarvo::result::kSuccess;

int64_t FreeThousand(const std::string&) {
    return 1000;
}

struct Case {
    uint32_t lo;
    int32_t hi;
    ResultCode expected;
};

TEST(DiskSpaceTest, SizeMustBeStrictlyBelowTheFreeBytes) {
    platform::SetFreeBytesProbe(&FreeThousand);
    const Case cases[] = {
        {0, 0, kSuccess},             // nothing to store
        {0xFFFFFFFFu, -1, kSuccess},  // -1: unknown size
        {999, 0, kSuccess},           // one below the free bytes
        {1000, 0, kNotReady},         // equal
        {1001, 0, kNotReady},
        {0, 1, kNotReady},  // 4 GiB: the high word counts
        {0, -2, kSuccess},  // negative
    };
    for (const Case& c : cases)
        EXPECT_EQ(TarvoLib_CheckDiskSpace("/anywhere", c.lo, c.hi), c.expected)
            << c.lo << "/" << c.hi;
    platform::SetFreeBytesProbe(nullptr);
}

TEST(DiskSpaceTest, RealFileSystemOfTheNearestExistingFolder) {
    const std::string missing = platform::TempFolder() + "not/yet/made/";
    EXPECT_GT(platform::FreeBytes(missing), 0);
    // The same file system as the folder that exists; other programs write
    // to it meanwhile, so the two readings agree only within what they write.
    constexpr int64_t kOthersWrites = int64_t{1} << 30;
    const int64_t before = platform::FreeBytes(platform::TempFolder());
    const int64_t below = platform::FreeBytes(missing);
    EXPECT_LE(std::abs(below - before), kOthersWrites) << below << " vs " << before;
    EXPECT_EQ(TarvoLib_CheckDiskSpace(missing.c_str(), 1, 0), kSuccess);
    EXPECT_EQ(TarvoLib_CheckDiskSpace("", 1, 0), kNotReady);
    EXPECT_EQ(TarvoLib_CheckDiskSpace(nullptr, 1, 0), kNotReady);
    // A path that is not absolute and names nothing has no file system.
    EXPECT_EQ(platform::FreeBytes("relative-and-missing"), 0);
}

}  // namespace
