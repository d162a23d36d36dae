// The host's thread never waits on a name server: entry functions that start
// network work return while the name is still being looked up, and the work
// finishes once the lookup answers. A name that does not resolve still ends
// in the failure it always did.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "LibraryHarness.h"
#include "platform/NetworkState.h"
#include "support/HeldResolver.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace tarvo;
using tvxtest::RecordingHost;
using Clock = std::chrono::steady_clock;

bool NetworkUp() {
    return true;
}

class HostThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetInternetProbe(&NetworkUp);
        ASSERT_TRUE(nginx_.Started()) << nginx_.Error();
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
    }
    void TearDown() override {
        TarvoLib_Finalize();
        platform::SetInternetProbe(nullptr);
    }
    // The nginx URL of path under a host name only the held resolver knows.
    std::string UrlOn(const std::string& host, const std::string& path) const {
        return "http://" + host + ":" + std::to_string(nginx_.HttpPort()) + path;
    }
    // Runs call on this (the host's) thread; it must return within a second
    // and before the resolver was released, and its lookup must have begun.
    void ExpectReturnsWhileHeld(const char* what, const std::string& host,
                                const std::function<ResultCode()>& call) {
        SCOPED_TRACE(what);
        const auto start = Clock::now();
        EXPECT_EQ(call(), result::kSuccess);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
        EXPECT_FALSE(resolver_.Released());
        EXPECT_TRUE(resolver_.WaitForLookups(host));
    }

    tvxtest::HeldResolver resolver_;
    tvxtest::NginxServer nginx_;
    tvxtest::TempDir dir_{"hostthread-"};
    RecordingHost host_;
};

TEST_F(HostThreadTest, EntryFunctionsReturnWhileTheNameIsLookedUpAndFinishAfterwards) {
    ASSERT_TRUE(nginx_.WriteFile("list.txt", "file list"));
    ASSERT_TRUE(nginx_.WritePatternFile("size.bin", 12345, 3));
    ASSERT_TRUE(nginx_.WritePatternFile("game.bin", 300000, 5));

    ExpectReturnsWhileHeld("DownloadData2", "data.test", [&] {
        return TarvoLib_DownloadData2(UrlOn("data.test", "/list.txt").c_str());
    });
    ExpectReturnsWhileHeld("StartSizeCheck", "size.test", [&] {
        EXPECT_EQ(TarvoLib_AddSizeCheckUrl(UrlOn("size.test", "/size.bin").c_str()),
                  result::kSuccess);
        return TarvoLib_StartSizeCheck();
    });
    const std::string folder = dir_.Path() + "game/";
    JobHandle job = 0;
    ASSERT_EQ(TarvoLib_CreateJob(&job, "g", "demo"), result::kSuccess);
    ASSERT_EQ(TarvoLib_SetJobFlag(job), result::kSuccess);
    ASSERT_EQ(TarvoLib_AddFile(job, UrlOn("job.test", "/game.bin").c_str(), folder.c_str(), nullptr,
                               0xFFFFFFFFu, -1, 0),
              result::kSuccess);
    ExpectReturnsWhileHeld("StartJob2", "job.test", [&] { return TarvoLib_StartJob2(job, 1); });
    resolver_.Release();
    EXPECT_EQ(host_.WaitForCallback({event::kDataComplete, event::kDataFailed}),
              event::kDataComplete);
    int64_t size = 0;
    EXPECT_EQ(TarvoLib_GetDataSize(&size), result::kSuccess);
    EXPECT_EQ(size, 9);
    EXPECT_EQ(host_.WaitForCallback({event::kSizeCheckComplete, event::kSizeCheckFailed}),
              event::kSizeCheckComplete);
    int64_t total = 0;
    EXPECT_EQ(TarvoLib_GetTotalSize(&total), result::kSuccess);
    EXPECT_EQ(total, 12345);
    ASSERT_EQ(host_.WaitForCallback({event::kJobCompleted}, 20000), event::kJobCompleted)
        << ::testing::PrintToString(host_.CallbackCodes());
    EXPECT_TRUE(tvxtest::ReadFile(folder + "game.bin") ==
                tvxtest::ReadFile(nginx_.PathOf("game.bin")));
}

TEST_F(HostThreadTest, NameThatDoesNotResolveStillFailsTheDataDownload) {
    EXPECT_EQ(TarvoLib_DownloadData2("http://nowhere.test/list.txt"), result::kSuccess);
    EXPECT_TRUE(resolver_.WaitForLookups("nowhere.test"));
    resolver_.Release();
    EXPECT_EQ(host_.WaitForCallback({event::kDataComplete, event::kDataFailed}),
              event::kDataFailed);
}

}  // namespace
