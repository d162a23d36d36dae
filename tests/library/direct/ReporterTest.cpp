// The reporter against the real report host program (tvx-report-host) on a
// loopback port: the records of a real download arrive with their byte counts,
// two reports go out as two messages, and a host that is down loses nothing
// that a later report can still carry.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "PlatformSessionHarness.h"
#include "library/direct/CPlatformReporter.h"
#include "support/NginxServer.h"
#include "support/ReportHostProcess.h"
#include "support/TempDir.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kReportHostProgram =
    std::string(TVX_BINARY_ROOT) + "/tools/report_host/tvx-report-host";

class ReporterTest : public tvxtest::PlatformSessionTestBase {
  protected:
    void SetUp() override {
        // The report host is built with the tests; without it they cannot pass.
        ASSERT_TRUE(std::filesystem::exists(kReportHostProgram))
            << "tvx-report-host is not built: " << kReportHostProgram;
        PlatformSessionTestBase::SetUp();
        OnWorker([this] { reporter_ = std::make_unique<CPlatformReporter>(); });
    }
    void TearDown() override {
        if (reporter_)
            OnWorker([this] { reporter_.reset(); });
        StopHost();
        if (CDownloadLibThread::Instance())
            PlatformSessionTestBase::TearDown();
    }

    // Runs the report host on port (0: any free one); returns its port or 0.
    uint16_t LaunchHost(uint16_t port = 0) {
        host_ = std::make_unique<tvxtest::ReportHostProcess>(kReportHostProgram, OutPath(), port);
        return host_->Port();
    }
    void StopHost() { host_.reset(); }
    std::string OutPath() const { return dir_.Path() + "reports.jsonl"; }

    // The recorded lines once there are count of them (bounded wait).
    Strings WaitForLines(size_t count) {
        tvxtest::ReportHostProcess::WaitForLinesIn(OutPath(), count);
        return tvxtest::ReportHostProcess::LinesIn(OutPath());
    }
    // True once the reporter has let its connection go (bounded wait).
    bool WaitUntilDisconnected() {
        for (int i = 0; i < 500; ++i) {
            bool connected = true;
            OnWorker([&] { connected = reporter_->HasConnection(); });
            if (!connected)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void Report(const std::vector<ReportRecord>& records, uint16_t port) {
        OnWorker([&] {
            reporter_->SetPort(port);
            reporter_->Report(static_cast<uint32_t>(records.size()), records.data());
        });
    }

    static std::string Line(const std::string& job, const std::string& url, int64_t bytes) {
        return "{\"job_name\":\"" + job + "\",\"url\":\"" + url +
               "\",\"bytes\":" + std::to_string(bytes) + "}";
    }

    tvxtest::TempDir dir_{"reporter-"};
    std::unique_ptr<CPlatformReporter> reporter_;
    std::unique_ptr<tvxtest::ReportHostProcess> host_;
};

TEST_F(ReporterTest, RecordsOfADownloadArriveWithTheirByteCounts) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("one.bin", 1, 1));
    ASSERT_TRUE(nginx.WriteFile("empty.bin", ""));
    ASSERT_TRUE(nginx.WritePatternFile("two.bin", 2 * 1024 * 1024 + 3, 2));
    const std::string folder = dir_.Path() + "game/";
    Run({Entry(nginx.HttpUrl("/one.bin"), folder, "one.bin", "halvard2"),
         Entry(nginx.HttpUrl("/empty.bin"), folder, "empty.bin", "halvard2"),
         Entry(nginx.HttpUrl("/two.bin"), folder, "two.bin", "halvard2")});
    ASSERT_EQ(listener_.Outcomes().back(), "complete");
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);  // the empty file received nothing

    const uint16_t port = LaunchHost();
    ASSERT_NE(port, 0);
    // The second report comes while the first one's connection is being made:
    // both go out, in order, as two messages.
    Report(records, port);
    Report({MakeReportRecord("other", "http://x/y", 5)}, port);
    EXPECT_EQ(WaitForLines(3),
              (Strings{Line("halvard2", nginx.HttpUrl("/one.bin"), 1),
                       Line("halvard2", nginx.HttpUrl("/two.bin"), 2 * 1024 * 1024 + 3),
                       Line("other", "http://x/y", 5)}));
    // Both answered: the connection is closed and released.
    EXPECT_TRUE(WaitUntilDisconnected());
    size_t pending = 1;
    OnWorker([&] { pending = reporter_->PendingReports(); });
    EXPECT_EQ(pending, 0u);
}

TEST_F(ReporterTest, HostThatIsDownKeepsTheReportForTheNextOne) {
    const uint16_t port = tvxtest::DeadPort();
    ASSERT_NE(port, 0);
    Report({MakeReportRecord("job", "http://h/first", 10)}, port);
    ASSERT_TRUE(WaitUntilDisconnected());
    size_t pending = 0;
    OnWorker([&] { pending = reporter_->PendingReports(); });
    EXPECT_EQ(pending, 1u);

    ASSERT_EQ(LaunchHost(port), port);
    Report({MakeReportRecord("job", "http://h/second", 20)}, port);
    EXPECT_EQ(WaitForLines(2),
              (Strings{Line("job", "http://h/first", 10), Line("job", "http://h/second", 20)}));
    EXPECT_TRUE(WaitUntilDisconnected());
}

}  // namespace
