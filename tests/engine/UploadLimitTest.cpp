// The adaptive upload limit: it learns the uplink from probes without a limit
// and keeps uploads to a share of it, less room for the acknowledgements of
// what the engine downloads, probing again only while uploads press against
// the limit, and less often while probes find nothing new.
#include <gtest/gtest.h>

#include "engine/torrent/UploadLimit.h"

using engine::torrent::UploadLimit;
using namespace std::chrono_literals;

namespace {

constexpr int64_t kUplink = 8 << 20;

// Uploads as an uplink of kUplink lets them through under a given limit, for
// peers that would take more than the uplink: half-second samples.
struct Uplink {
    UploadLimit limit;
    UploadLimit::Clock::time_point now{};
    int64_t applied = UploadLimit::kFloor;
    int64_t probes = 0;
    int64_t download = 0;  // what the engine takes in meanwhile

    void Run(std::chrono::milliseconds span, int64_t demand = 2 * kUplink) {
        for (auto end = now + span; now < end; now += 500ms) {
            const int64_t cap = applied == 0 ? kUplink : std::min(applied, kUplink);
            const int64_t next = limit.OnSample(std::min(demand, cap), download, now);
            probes += next == 0 && applied != 0;
            applied = next;
        }
    }
};

TEST(UploadLimitTest, SettlesBelowTheUplinkAfterOneProbe) {
    Uplink u;
    u.Run(1s);
    EXPECT_EQ(u.probes, 1);  // the floor was pressed at once
    u.Run(3s);
    EXPECT_EQ(u.limit.MeasuredUplink(), kUplink);
    EXPECT_EQ(u.applied, static_cast<int64_t>(kUplink * UploadLimit::kShare));
    EXPECT_LT(u.applied, kUplink);
}

TEST(UploadLimitTest, ProbesBackOffWhileTheyFindNothingNew) {
    Uplink u;
    u.Run(10min);
    // Intervals double from 5 s to 60 s: 1 + 5, 10, 20, 40 + 60 s steps.
    EXPECT_GE(u.probes, 5);
    EXPECT_LE(u.probes, 16);
    // Most of the time the limit holds, never above the uplink.
    EXPECT_TRUE(u.applied == 0 || u.applied < kUplink);
}

TEST(UploadLimitTest, NoProbeWhileUploadsStayBelowTheLimit) {
    Uplink u;
    u.Run(5s);
    const int64_t before = u.probes;
    u.Run(2min, kUplink / 4);
    EXPECT_EQ(u.probes, before);
    EXPECT_EQ(u.applied, static_cast<int64_t>(kUplink * UploadLimit::kShare));
}

TEST(UploadLimitTest, DownloadsKeepRoomForTheirAcknowledgements) {
    Uplink u;
    u.Run(5s);
    const auto share = static_cast<int64_t>(kUplink * UploadLimit::kShare);
    EXPECT_EQ(u.applied, share);
    // A fast download's acknowledgements need more of the uplink (peers
    // asking for less than the limit: no probe)...
    u.download = 50 << 20;
    u.Run(1s, kUplink / 4);
    EXPECT_EQ(u.applied, share - static_cast<int64_t>((50 << 20) * UploadLimit::kAckShare));
    // ... and give it back when it ends.
    const int64_t probes = u.probes;
    u.download = 0;
    u.Run(1s, kUplink / 4);
    EXPECT_EQ(u.applied, share);
    EXPECT_EQ(u.probes, probes);
    // However fast the download, uploads keep the floor.
    u.download = int64_t{1} << 40;
    u.Run(1s, UploadLimit::kFloor / 2);
    EXPECT_EQ(u.applied, UploadLimit::kFloor);
}

TEST(UploadLimitTest, AFasterUplinkIsFoundByTheNextProbe) {
    Uplink u;
    // At first the peers want little: the first probe sees only that.
    u.Run(4s, 1 << 20);
    EXPECT_EQ(u.limit.MeasuredUplink(), 1 << 20);
    u.Run(30s);
    EXPECT_EQ(u.limit.MeasuredUplink(), kUplink);
}

}  // namespace
