// Whole jobs on the direct path through the entry functions: size check,
// session, progress, completed files, job messages and the per-file reports,
// against real nginx and the real report host program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LibraryHarness.h"
#include "PlatformSessionHarness.h"
#include "library/common/Log.h"
#include "library/direct/CPlatFormDownloader.h"
#include "library/direct/CPlatformReporter.h"
#include "platform/FileSystem.h"
#include "platform/NetworkState.h"
#include "platform/Paths.h"
#include "support/NginxServer.h"
#include "support/ReportHostProcess.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

namespace {

using namespace tarvo;
using tvxtest::RecordingHost;
using tvxtest::SeenEvent;

std::atomic<bool> gNetworkUp{true};
bool NetworkProbe() {
    return gNetworkUp.load();
}

class DirectDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gNetworkUp = true;
        platform::SetInternetProbe(&NetworkProbe);
        ASSERT_TRUE(nginx_.Started()) << nginx_.Error();
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
#ifdef TVX_REPORT_HOST_PROGRAM
        reports_ = std::make_unique<tvxtest::ReportHostProcess>(TVX_REPORT_HOST_PROGRAM,
                                                                dir_.Path() + "reports.jsonl");
        ASSERT_TRUE(reports_->Started());
        std::lock_guard guard(Manager().Lock());
        auto* direct = dynamic_cast<CPlatFormDownloader*>(Manager().DirectDownloader());
        ASSERT_NE(direct, nullptr);
        direct->Reporter().SetPort(reports_->Port());
#endif
    }
    void TearDown() override {
        TarvoLib_Finalize();
        platform::SetInternetProbe(nullptr);
        platform::SetFreeBytesProbe(nullptr);
    }
    CJobManager& Manager() {
        return *CDownloadLibThread::Instance()->Manager();
    }

    JobHandle MakeJob(const std::vector<std::string>& urls) {
        JobHandle job = 0;
        EXPECT_EQ(TarvoLib_CreateJob(&job, "g", "demo"), result::kSuccess);
        EXPECT_EQ(TarvoLib_SetJobFlag(job), result::kSuccess);
        for (const std::string& url : urls)
            EXPECT_EQ(
                TarvoLib_AddFile(job, url.c_str(), dest_.c_str(), nullptr, 0xFFFFFFFFu, -1, 0),
                result::kSuccess)
                << url;
        return job;
    }
    // A port on 127.0.0.1 where nothing listens.
    static std::string DeadUrl() {
        return "http://127.0.0.1:1/dead.bin";
    }

    tvxtest::TempDir dir_{"direct-"};
    std::string dest_ = dir_.Path() + "game/";
    tvxtest::NginxServer nginx_;
    RecordingHost host_;
    std::unique_ptr<tvxtest::ReportHostProcess> reports_;
};

TEST_F(DirectDownloadTest, TwentyFilesArriveIdenticalWithEveryEventAndReport) {
    const uint64_t sizes[] = {1,       2,       100,     1000,     4095,     4096,    65535,
                              65536,   100001,  262144,  524287,   1048576,  1048577, 2097152,
                              3000000, 4194304, 8388608, 16777216, 33554432, 67108864};
    std::vector<std::string> urls;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = "files/f" + std::to_string(i) + ".bin";
        ASSERT_TRUE(nginx_.WritePatternFile(name, sizes[i], static_cast<uint32_t>(i + 1)));
        urls.push_back(nginx_.HttpUrl("/" + name));
    }
    urls[5] = DeadUrl() + "|" + urls[5];

    const JobHandle job = MakeJob(urls);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_EQ(host_.WaitForCallback({event::kJobCompleted}, 120000), event::kJobCompleted)
        << ::testing::PrintToString(host_.CallbackCodes());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        EXPECT_TRUE(tvxtest::ReadFile(dest_ + name) ==
                    tvxtest::ReadFile(nginx_.PathOf("files/" + name)))
            << name;
    }

    const std::vector<int32_t> codes = host_.CallbackCodes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), event::kJobSize);
    EXPECT_EQ(codes.back(), event::kJobCompleted);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), event::kFileCompleted), 20);
    EXPECT_LE(std::count(codes.begin(), codes.end(), event::kJobProgress), seconds + 2);

    JobSizeRecord size{};
    ASSERT_EQ(TarvoLib_GetJobSize(job, &size), result::kSuccess);
    uint64_t total = 0;
    for (uint64_t s : sizes)
        total += s;
    EXPECT_EQ(size.total, static_cast<int64_t>(total));
    EXPECT_EQ(size.fileCount, 20);
    CompletedFileRecord done{};
    ASSERT_EQ(TarvoLib_GetCompletedFile(job, &done), result::kSuccess);
    EXPECT_EQ(std::string(done.text), urls[0] + "," + dest_ + "f0.bin");
    JobResultRecord result{};
    ASSERT_EQ(TarvoLib_GetJobResult(job, &result), result::kSuccess);
    EXPECT_EQ(result.fileCount, 20);
    EXPECT_EQ(result.valueA, 20);
    JobStatus status{};
    ASSERT_EQ(TarvoLib_GetJobProgress(job, &status), result::kSuccess);
    EXPECT_EQ(status.downloaded, static_cast<int64_t>(total));
    EXPECT_EQ(status.percent, 100);

    if (reports_) {
        ASSERT_TRUE(reports_->WaitForLines(20));
        const std::vector<std::string> lines = reports_->Lines();
        for (size_t i = 0; i < std::size(sizes); ++i) {
            const std::string bytes = "\"bytes\":" + std::to_string(sizes[i]);
            const std::string file = "f" + std::to_string(i) + ".bin\"";
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& line) {
                                        return line.find(file) != std::string::npos &&
                                               line.find(bytes) != std::string::npos;
                                    }))
                << "no report for " << file << " with " << bytes;
        }
    }
}

// A mirror asked over https that sends the client to plain http is a broken
// mirror: the plain server gets no request, neither for the size nor for the
// bytes, and the file comes from the next mirror.
TEST_F(DirectDownloadTest, AnHttpsMirrorRedirectingToHttpFallsThroughToTheNext) {
    using tvxtest::HttpScript;
    tvxtest::ScriptedHttpServer plain;
    ASSERT_TRUE(plain.Started());
    plain.OnPrefix("/", [](const tvxtest::RecordedRequest&) {
        return HttpScript::Respond(200, std::string(70000, 'e'));
    });
    tvxtest::NginxServer lowering(
        {"location = /m/x.bin { return 302 " + plain.Url("/x.bin") + "; }"});
    ASSERT_TRUE(lowering.Started()) << lowering.Error();
    ASSERT_TRUE(nginx_.WritePatternFile("second/x.bin", 70000, 77));

    const JobHandle job =
        MakeJob({lowering.HttpsUrl("/m/x.bin") + "|" + nginx_.HttpUrl("/second/x.bin")});
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_EQ(host_.WaitForCallback({event::kJobCompleted, event::kJobMessage}, 30000),
              event::kJobCompleted)
        << tvxtest::ReadFile(LogFilePath());
    EXPECT_TRUE(tvxtest::ReadFile(dest_ + "x.bin") ==
                tvxtest::ReadFile(nginx_.PathOf("second/x.bin")));
    EXPECT_EQ(plain.ConnectionCount(), 0u);
    EXPECT_NE(lowering.AccessLog().find("/m/x.bin"), std::string::npos);
}

TEST_F(DirectDownloadTest, EveryFileFallsThroughABrokenFirstMirrorToItsSecond) {
    using tvxtest::HttpScript;
    tvxtest::ScriptedHttpServer broken;
    ASSERT_TRUE(broken.Started());
    struct Case {
        const char* name;
        uint64_t size;
        HttpScript first;
    };
    // The stall holds each attempt until the receive timeout, three times;
    // everything else fails at once.
    std::vector<Case> cases;
    cases.push_back({"circle.bin", 300001, HttpScript::Redirect(302, "circle-b.bin")});
    cases.push_back({"garbage.bin", 1048577, HttpScript::Garbage()});
    cases.push_back({"flood.bin", 65536, HttpScript::FloodHeader()});
    cases.push_back({"stall.bin", 2000000, HttpScript::StallAfterHeader(2000000)});
    cases.push_back({"conflict.bin", 4096, HttpScript::ConflictingLength(std::string(4096, 'c'))});
    cases.push_back({"ftp.bin", 777, HttpScript::Redirect(303, "ftp://127.0.0.1/ftp.bin")});
    cases.push_back({"no-host.bin", 1, HttpScript::Redirect(302, "http://:8o/no-host.bin")});
    // A circle of two: each sends the client to the other.
    broken.On("/m/circle-b.bin", HttpScript::Redirect(302, broken.Url("/m/circle.bin")));

    std::vector<std::string> urls;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string name = cases[i].name;
        ASSERT_TRUE(nginx_.WritePatternFile("second/" + name, cases[i].size,
                                            static_cast<uint32_t>(i + 40)));
        broken.On("/m/" + name, std::move(cases[i].first));
        urls.push_back(broken.Url("/m/" + name) + "|" + nginx_.HttpUrl("/second/" + name));
    }

    const JobHandle job = MakeJob(urls);
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    // A file given up would raise a job message instead.
    ASSERT_EQ(host_.WaitForCallback({event::kJobCompleted, event::kJobMessage}, 45000),
              event::kJobCompleted)
        << ::testing::PrintToString(host_.CallbackCodes()) << "\n"
        << tvxtest::ReadFile(LogFilePath());
    EXPECT_TRUE(tvxtest::JobMessageCodes(job).empty());

    int64_t total = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(tvxtest::ReadFile(dest_ + c.name) ==
                    tvxtest::ReadFile(nginx_.PathOf(std::string("second/") + c.name)));
        total += static_cast<int64_t>(c.size);
        // Each first mirror was given its attempts before the second was asked.
        size_t asked = 0;
        for (const auto& request : broken.Requests())
            asked += request.target == std::string("/m/") + c.name ? 1 : 0;
        EXPECT_GE(asked, 3u);
    }
    JobStatus status{};
    ASSERT_EQ(TarvoLib_GetJobProgress(job, &status), result::kSuccess);
    EXPECT_EQ(status.downloaded, total);
    EXPECT_EQ(status.percent, 100);
    JobSizeRecord size{};
    ASSERT_EQ(TarvoLib_GetJobSize(job, &size), result::kSuccess);
    EXPECT_EQ(size.total, total);

    // No byte of a broken mirror was counted.
    if (reports_) {
        ASSERT_TRUE(reports_->WaitForLines(cases.size()));
        const std::vector<std::string> lines = reports_->Lines();
        for (const Case& c : cases) {
            const std::string bytes = "\"bytes\":" + std::to_string(c.size);
            const std::string file = std::string(c.name) + "\"";
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& line) {
                                        return line.find(file) != std::string::npos &&
                                               line.find(bytes) != std::string::npos;
                                    }))
                << "no report for " << file << " with " << bytes;
        }
    }
}

TEST_F(DirectDownloadTest, FileThatDoesNotFitFailsBeforeAnyByteIsWritten) {
    ASSERT_TRUE(nginx_.WritePatternFile("big.bin", 1 << 20));
    platform::SetFreeBytesProbe([](const std::string&) -> int64_t { return 1000; });
    const JobHandle job = MakeJob({nginx_.HttpUrl("/big.bin")});
    ASSERT_EQ(TarvoLib_StartJob(job, 1), result::kSuccess);
    ASSERT_EQ(host_.WaitForCallback({event::kJobMessage}), event::kJobMessage);
    EXPECT_EQ(tvxtest::JobMessageCodes(job), std::vector<int32_t>{message::kDiskFull});
    EXPECT_FALSE(platform::PathExists(dest_ + "big.bin"));
}

TEST_F(DirectDownloadTest, NetworkDownAndUpAndAStopInTheMiddle) {
    tvxtest::NginxServer slow({"limit_rate 200k;"});
    ASSERT_TRUE(slow.Started()) << slow.Error();
    ASSERT_TRUE(slow.WritePatternFile("slow.bin", 8 << 20));
    const JobHandle job = MakeJob({slow.HttpUrl("/slow.bin")});
    ASSERT_EQ(TarvoLib_StartJob(job, 1), result::kSuccess);
    ASSERT_EQ(host_.WaitForCallback({event::kJobProgress}), event::kJobProgress);

    gNetworkUp = false;
    ASSERT_TRUE(host_.WaitForCount(event::kJobMessage, 1));
    // Two more ticks, each ending with its progress event, bring no second 515.
    const size_t ticks = host_.Count(event::kJobProgress);
    ASSERT_TRUE(host_.WaitForCount(event::kJobProgress, ticks + 2));
    EXPECT_EQ(host_.Count(event::kJobMessage), 1u);
    gNetworkUp = true;
    ASSERT_TRUE(host_.WaitForCount(event::kJobMessage, 2));
    EXPECT_EQ(tvxtest::JobMessageCodes(job),
              (std::vector<int32_t>{message::kNetworkDown, message::kNetworkBack}));

    ASSERT_EQ(TarvoLib_StopJob2(job, 0), result::kSuccess);
    EXPECT_EQ(TarvoLib_RemoveJob(job), result::kSuccess);
    if (reports_) {
        ASSERT_TRUE(reports_->WaitForLines(1));
        const std::string line = reports_->Lines().front();
        EXPECT_NE(line.find("slow.bin"), std::string::npos) << line;
        EXPECT_EQ(line.find("\"bytes\":0,"), std::string::npos) << line;
    }
}

// A launcher quits right after the installer starts: the reports of the job
// must be out when TarvoLib_Finalize returns, and a report host that is down
// or silent must not hold shutdown for long.
TEST_F(DirectDownloadTest, FinalizeRightAfterCompletionDeliversEveryReport) {
    ASSERT_TRUE(reports_);
    std::vector<std::string> urls;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "r" + std::to_string(i) + ".bin";
        ASSERT_TRUE(nginx_.WritePatternFile(name, 1000u * (i + 1), static_cast<uint32_t>(i + 1)));
        urls.push_back(nginx_.HttpUrl("/" + name));
    }
    const JobHandle job = MakeJob(urls);
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_EQ(host_.WaitForCallback({event::kJobCompleted}, 20000), event::kJobCompleted);
    EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
    // Already in the host's file: the flush waited for the host's answer.
    const std::vector<std::string> lines = reports_->Lines();
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find("\"bytes\":" + std::to_string(1000 * (i + 1))), std::string::npos)
            << lines[i];
}

TEST_F(DirectDownloadTest, FinalizeWithTheReportHostDownOrSilentStillEndsSoon) {
    // A listener that takes the connection and never answers.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size), 0);
    ASSERT_TRUE(nginx_.WritePatternFile("q.bin", 5000, 9));

    for (const uint16_t port : {tvxtest::DeadPort(), ntohs(address.sin_port)}) {
        SCOPED_TRACE(port);
        if (!CDownloadLibThread::Instance()) {
            ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                          reinterpret_cast<uintptr_t>(&host_)),
                      result::kSuccess);
        }
        host_.Clear();
        {
            std::lock_guard guard(Manager().Lock());
            auto* direct = dynamic_cast<CPlatFormDownloader*>(Manager().DirectDownloader());
            ASSERT_NE(direct, nullptr);
            direct->Reporter().SetPort(port);
        }
        const JobHandle job = MakeJob({nginx_.HttpUrl("/q.bin")});
        ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
        ASSERT_EQ(host_.WaitForCallback({event::kJobCompleted}, 20000), event::kJobCompleted);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    }
    ::close(silent);
}

}  // namespace
