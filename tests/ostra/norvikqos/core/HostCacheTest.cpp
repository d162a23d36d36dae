// The host address cache on a fake resolver and the manual clock: which
// address is handed out, when a name is looked up again, and how long a failed
// address is remembered.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ostra/norvikqos/core/cpCHostCache.h"
#include "platform/Clock.h"
#include "platform/Resolver.h"

namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return htonl((uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | d);
}

const uint32_t kA = Ip(10, 0, 0, 1);
const uint32_t kB = Ip(10, 0, 0, 2);
const uint32_t kC = Ip(10, 0, 0, 3);

// What the fake resolver answers, and how often each name was looked up.
std::map<std::string, std::vector<uint32_t>> gAnswers;
std::map<std::string, int> gLookups;

bool FakeResolve(const char* name, std::vector<uint32_t>& ips) {
    ++gLookups[name];
    const auto it = gAnswers.find(name);
    if (it == gAnswers.end())
        return false;
    ips = it->second;
    return !ips.empty();
}

class HostCacheTest : public testing::Test {
  protected:
    void SetUp() override {
        gAnswers.clear();
        gLookups.clear();
        platform::SetResolver(&FakeResolve);
    }
    void TearDown() override { platform::SetResolver(nullptr); }

    // The address handed out, or 0 when Resolve gives false.
    static uint32_t Next(const char* host, uint16_t port = 80) {
        uint32_t ip = 0xFFFFFFFFu;
        const bool found = cpCHostCache::Instance().Resolve(host, port, ip);
        EXPECT_EQ(found, ip != 0) << host;
        return ip;
    }
    static void Failed(const char* host, uint32_t ip, uint16_t port = 80) {
        cpCHostCache::Instance().ReportAddressFailed(host, port, ip);
    }
    static void Good(const char* host, uint32_t ip, uint16_t port = 80) {
        cpCHostCache::Instance().ReportAddressGood(host, port, ip);
    }

    platform::ScopedManualClock clock_{2000000};
};

TEST_F(HostCacheTest, UnresolvableNameIsLookedUpAgainOnlyAfterFiveSeconds) {
    const char* host = "unresolvable.test";
    EXPECT_EQ(Next(host), 0u);
    EXPECT_EQ(gLookups[host], 1);

    clock_->Advance(4999);
    EXPECT_EQ(Next(host), 0u);
    EXPECT_EQ(gLookups[host], 1) << "looked up again within 5 seconds";

    gAnswers[host] = {kA};
    clock_->Advance(1);
    EXPECT_EQ(Next(host), kA);
    EXPECT_EQ(gLookups[host], 2);
}

TEST_F(HostCacheTest, FailedAddressMovesToTheBack) {
    const char* host = "two.test";
    gAnswers[host] = {kA, kB};
    EXPECT_EQ(Next(host), kA);
    EXPECT_EQ(Next(host), kA) << "nothing reported: the first address again";
    Failed(host, kA);
    EXPECT_EQ(Next(host), kB);
    Failed(host, kB);
    EXPECT_EQ(Next(host), kA) << "every address failed: the oldest failure comes first";
    EXPECT_EQ(gLookups[host], 1);
}

TEST_F(HostCacheTest, FailedAddressIsRememberedForThirtySecondsThenDeleted) {
    const char* host = "memory.test";
    gAnswers[host] = {kA, kB};
    EXPECT_EQ(Next(host), kA);
    Failed(host, kA);  // at T
    gAnswers[host] = {kB};

    // T+30: the resolver no longer returns A, but it stays at the back.
    clock_->Advance(30000);
    EXPECT_EQ(Next(host), kB);
    EXPECT_EQ(gLookups[host], 2);
    Failed(host, kB);  // at T+30
    EXPECT_EQ(Next(host), kA) << "A was dropped before its 30 seconds were over";

    // T+35: A's failure is 35 seconds old and goes; B's is 5 and stays.
    clock_->Advance(5000);
    EXPECT_EQ(Next(host), kB);
    EXPECT_EQ(gLookups[host], 3);

    // A returns as a new address, ahead of the failed B.
    gAnswers[host] = {kB, kA};
    clock_->Advance(5000);
    EXPECT_EQ(Next(host), kA);
    EXPECT_EQ(gLookups[host], 4);
}

TEST_F(HostCacheTest, ResolutionDoesNotAddAFailedAddressASecondTime) {
    const char* host = "nodup.test";
    gAnswers[host] = {kA, kB};
    EXPECT_EQ(Next(host), kA);
    Failed(host, kA);
    clock_->Advance(10000);
    EXPECT_EQ(Next(host), kB);  // resolved again: B new, A failed
    EXPECT_EQ(gLookups[host], 2);
    Failed(host, kB);
    EXPECT_EQ(Next(host), kA);
    Failed(host, kA);
    // With a second record for A the list would now start with it.
    EXPECT_EQ(Next(host), kB);
}

TEST_F(HostCacheTest, GoodAddressIsHandedOutWithoutLookupsUntilItFails) {
    const char* host = "good.test";
    gAnswers[host] = {kA, kB, kC};
    EXPECT_EQ(Next(host), kA);
    Good(host, kC);
    Good(host, kB);
    for (int i = 0; i < 3; ++i) {
        clock_->Advance(60000);
        EXPECT_EQ(Next(host), kB);
    }
    EXPECT_EQ(gLookups[host], 1);

    Failed(host, kB);
    EXPECT_EQ(Next(host), kC) << "the next good address comes before any lookup";
    EXPECT_EQ(gLookups[host], 1);

    Failed(host, kC);
    EXPECT_EQ(Next(host), kA) << "no good address left: looked up again";
    EXPECT_EQ(gLookups[host], 2);

    // A failed address that works again is good again.
    Good(host, kC);
    EXPECT_EQ(Next(host), kC);
}

TEST_F(HostCacheTest, EntriesAreKeyedByExactNameAndPort) {
    gAnswers["keyed.test"] = {kA, kB};
    gAnswers["KEYED.test"] = {kA, kB};
    EXPECT_EQ(Next("keyed.test", 80), kA);
    EXPECT_EQ(Next("keyed.test", 8080), kA);
    EXPECT_EQ(Next("KEYED.test", 80), kA);
    EXPECT_EQ(gLookups["keyed.test"], 2);
    EXPECT_EQ(gLookups["KEYED.test"], 1);

    Failed("keyed.test", kA, 80);
    EXPECT_EQ(Next("keyed.test", 80), kB);
    EXPECT_EQ(Next("keyed.test", 8080), kA);
    EXPECT_EQ(Next("KEYED.test", 80), kA);
}

TEST_F(HostCacheTest, ReportsForUnknownHostsOrAddressesChangeNothing) {
    const char* host = "reports.test";
    gAnswers[host] = {kA, kB};

    // Never resolved: the reports make no entry.
    Failed(host, kA);
    Good(host, kB);
    EXPECT_EQ(gLookups[host], 0);
    EXPECT_EQ(Next(host), kA);
    EXPECT_EQ(gLookups[host], 1);

    // Not in the list, or another port.
    Good(host, kC);
    Failed(host, kC);
    Good(host, kB, 81);
    Failed(host, kA, 81);
    EXPECT_EQ(Next(host), kA);
    EXPECT_EQ(gLookups[host], 1);
}

TEST_F(HostCacheTest, MissingHostNameIsRefusedWithoutLookup) {
    uint32_t ip = 123;
    EXPECT_FALSE(cpCHostCache::Instance().Resolve(nullptr, 80, ip));
    EXPECT_EQ(ip, 0u);
    ip = 123;
    EXPECT_FALSE(cpCHostCache::Instance().Resolve("", 80, ip));
    EXPECT_EQ(ip, 0u);
    cpCHostCache::Instance().ReportAddressFailed(nullptr, 80, kA);
    cpCHostCache::Instance().ReportAddressGood(nullptr, 80, kA);
    EXPECT_TRUE(gLookups.empty());
}

// The real resolver, for a name that never leaves the machine.
TEST(HostCacheSystemTest, ResolvesLocalhost) {
    uint32_t ip = 0;
    ASSERT_TRUE(cpCHostCache::Instance().Resolve("127.0.0.1", 8080, ip));
    EXPECT_EQ(ip, htonl(INADDR_LOOPBACK));
}

}  // namespace
