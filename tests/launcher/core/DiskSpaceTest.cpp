// Free bytes and the library's disk check, on an injected free-space figure.
#include <gtest/gtest.h>

#include <string>

#include "launcher/core/DiskSpace.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

using namespace launcher;

namespace {

int64_t gFree = 0;
std::string gAsked;

int64_t FixedFree(const std::string& path) {
    gAsked = path;
    return gFree;
}

struct ProbeGuard {
    ProbeGuard() { platform::SetFreeBytesProbe(&FixedFree); }
    ~ProbeGuard() { platform::SetFreeBytesProbe(nullptr); }
};

}  // namespace

TEST(DiskSpaceTest, CheckNeedsStrictlyMoreFreeThanRemaining) {
    ProbeGuard guard;
    struct Case {
        int64_t free, remaining;
        ResultCode result;
    };
    const Case cases[] = {
        {1000, 1000, tarvo::result::kNotReady},  // equal amounts fail
        {1001, 1000, tarvo::result::kSuccess},
        {999, 1000, tarvo::result::kNotReady},
        {0, 0, tarvo::result::kSuccess},  // nothing left to fetch
        {0, -5, tarvo::result::kSuccess},
        {0, 1, tarvo::result::kNotReady},  // a failed query counts as 0
        // Above 4 GiB both halves of the size count.
        {(5LL << 32) + 1, 5LL << 32, tarvo::result::kSuccess},
        {5LL << 32, (5LL << 32) + 1, tarvo::result::kNotReady},
    };
    for (const Case& c : cases) {
        gFree = c.free;
        EXPECT_EQ(DiskCheck("/srv/games/", c.remaining), c.result)
            << c.free << " free, " << c.remaining << " remaining";
    }
    EXPECT_EQ(gAsked, "/srv/games/");
}

TEST(DiskSpaceTest, FreeBytesOfAFolderNotYetMadeAreThoseOfItsParent) {
    tvxtest::TempDir dir;
    const int64_t parent = FreeBytes(dir.Path());
    EXPECT_GT(parent, 0);
    // Same file system; the figure may move a little between the two calls.
    const int64_t child = FreeBytes(dir.Path() + "not/made/yet/");
    EXPECT_NEAR(static_cast<double>(child), static_cast<double>(parent), 64.0 * 1024 * 1024);
    EXPECT_EQ(FreeBytes(""), 0);
}
