#include "platform/Resolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST(ResolverTest, ResolvesLocalNamesWithoutDns) {
    std::vector<uint32_t> ips{1, 2, 3};
    ASSERT_TRUE(platform::ResolveAll("127.0.0.1", ips));
    EXPECT_EQ(ips, std::vector<uint32_t>{kLoopback});

    ASSERT_TRUE(platform::ResolveAll("localhost", ips));
    EXPECT_NE(std::find(ips.begin(), ips.end(), kLoopback), ips.end());
    for (auto it = ips.begin(); it != ips.end(); ++it)
        EXPECT_EQ(std::count(ips.begin(), ips.end(), *it), 1);
}

TEST(ResolverTest, MissingNameFailsWithEmptyList) {
    std::vector<uint32_t> ips{1};
    EXPECT_FALSE(platform::ResolveAll(nullptr, ips));
    EXPECT_TRUE(ips.empty());
    ips = {1};
    EXPECT_FALSE(platform::ResolveAll("", ips));
    EXPECT_TRUE(ips.empty());
}

int gCalls = 0;

TEST(ResolverTest, OverrideAnswersInOrderWithoutDuplicates) {
    gCalls = 0;
    platform::SetResolver([](const char*, std::vector<uint32_t>& ips) {
        ++gCalls;
        ips = {7, 5, 7, 9, 5};
        return true;
    });
    std::vector<uint32_t> ips;
    EXPECT_TRUE(platform::ResolveAll("anything.test", ips));
    EXPECT_EQ(ips, (std::vector<uint32_t>{7, 5, 9}));

    // A failed lookup leaves no partial answer behind.
    platform::SetResolver([](const char*, std::vector<uint32_t>& out) {
        ++gCalls;
        out = {4};
        return false;
    });
    EXPECT_FALSE(platform::ResolveAll("anything.test", ips));
    EXPECT_TRUE(ips.empty());
    EXPECT_EQ(gCalls, 2);

    platform::SetResolver(nullptr);
    EXPECT_TRUE(platform::ResolveAll("127.0.0.1", ips));
    EXPECT_EQ(gCalls, 2);
}

}  // namespace
