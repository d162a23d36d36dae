// The demo host as a real program against a real nginx: the file list is
// fetched and split, bad lists and bad command lines end with a clear message
// and a non-zero exit, a signal stops it, and a whole job downloads.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "tools/DemoHostProcess.h"

namespace {

using namespace std::chrono_literals;
using tvxtest::ChildProcess;
using tvxtest::NginxServer;

constexpr auto kRunTimeout = 20s;

class DemoHostTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.Started()) << server_.Error(); }

    std::vector<std::string> Args(const std::string& listUrl) const {
        return {TVX_DEMO_HOST, "--list", listUrl, "--dest", dest_.Path() + "game"};
    }

    // Runs the host to its end.
    void Run(ChildProcess& host) {
        ASSERT_TRUE(host.Started());
        ASSERT_TRUE(host.Wait(kRunTimeout)) << "the host did not end in time\n" << host.Out();
    }

    NginxServer server_;
    tvxtest::TempDir dest_{"tvx-demo-dest-"};
};

TEST_F(DemoHostTest, FetchesAndSplitsTheFileList) {
    // The listed files do not exist, so once the size check runs it fails:
    // this run never gets to a job.
    const std::string a = server_.HttpUrl("/fullinst/missing1.bin");
    const std::string b = server_.HttpUrl("/fullinst/missing2.bin");
    const std::string c = server_.HttpUrl("/fullinst/missing3.bin");
    ASSERT_TRUE(server_.WriteFile("fullinst/filelist.txt",
                                  "  " + a + "\r\n\r\n \t\n" + b + "\t\n" + c + "\r\nxy"));
    ChildProcess host(Args(server_.HttpUrl("/fullinst/filelist.txt")));
    Run(host);

    EXPECT_NE(host.Out().find("file list: 3 files\n  " + a + "\n  " + b + "\n  " + c + "\n"),
              std::string::npos)
        << host.Out();
    EXPECT_EQ(host.Err().find("파일 리스트"), std::string::npos) << host.Err();
    EXPECT_NE(host.Err().find("파일크기 확인 실패"), std::string::npos) << host.Err();
    EXPECT_EQ(host.ExitCode(), 1);
    EXPECT_NE(server_.AccessLog().find("GET /fullinst/filelist.txt"), std::string::npos);
}

TEST_F(DemoHostTest, EndsWithAClearMessageOnABadList) {
    struct Case {
        const char* name;
        std::string listUrl;
        std::string message;
    };
    ASSERT_TRUE(server_.WriteFile("empty.txt", ""));
    ASSERT_TRUE(server_.WriteFile("blank.txt", "\r\n  \n\t\r\n\n"));
    ASSERT_TRUE(server_.WriteFile("long.txt",
                                  server_.HttpUrl("/a") + "\n" + std::string(1024, 'x') + "\n"));
    const std::vector<Case> cases = {
        {"no such list", server_.HttpUrl("/missing.txt"), "파일 리스트 다운로드에 실패하였습니다."},
        {"nobody listening",
         "http://127.0.0.1:" + std::to_string(tvxtest::FreeLoopbackPort()) + "/filelist.txt",
         "파일 리스트 다운로드에 실패하였습니다."},
        // An empty body may already fail as a download; either way the list is refused.
        {"an empty list", server_.HttpUrl("/empty.txt"), "파일 리스트 다운로드에 실패하였습니다."},
        {"only line ends and blanks", server_.HttpUrl("/blank.txt"), "holds no URL"},
        {"a line of 1024 bytes", server_.HttpUrl("/long.txt"),
         "잘못된 URL이 입력 되었습니다. (line 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess host(Args(c.listUrl));
        Run(host);
        EXPECT_EQ(host.ExitCode(), 1);
        EXPECT_NE(host.Err().find(c.message), std::string::npos) << host.Err();
        EXPECT_EQ(host.Out().find("file list: "), std::string::npos) << host.Out();
    }
}

TEST_F(DemoHostTest, RefusesABadCommandLine) {
    const std::vector<std::vector<std::string>> cases = {
        {TVX_DEMO_HOST, "--bogus"},       {TVX_DEMO_HOST, "--mode", "fast"},
        {TVX_DEMO_HOST, "--mode", "256"}, {TVX_DEMO_HOST, "--dest"},
        {TVX_DEMO_HOST, "--list", ""},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back());
        ChildProcess host(args);
        Run(host);
        EXPECT_EQ(host.ExitCode(), 2);
        EXPECT_NE(host.Err().find("tvx-demo-host: "), std::string::npos) << host.Err();
        EXPECT_TRUE(host.Out().empty()) << host.Out();
    }
}

TEST_F(DemoHostTest, StopsOnSigint) {
    // A list that trickles in keeps the data download running.
    std::string list;
    while (list.size() < 64 * 1024)
        list += server_.HttpUrl("/fullinst/part.bin") + "\n";
    NginxServer slow({"location = /slow.txt { limit_rate 1k; }"});
    ASSERT_TRUE(slow.Started()) << slow.Error();
    ASSERT_TRUE(slow.WriteFile("slow.txt", list));

    ChildProcess host(Args(slow.HttpUrl("/slow.txt")));
    ASSERT_TRUE(host.WaitForOutput("file list http", 10s)) << host.Out();
    host.Signal(SIGINT);
    Run(host);
    EXPECT_EQ(host.ExitCode(), 128 + SIGINT);
    EXPECT_NE(host.Err().find("stopped by signal 2"), std::string::npos) << host.Err();
}

TEST_F(DemoHostTest, DownloadsEveryListedFile) {
    // Limited so that the job lasts over a second and shows its progress.
    NginxServer slow({"location /fullinst/ { limit_rate 1m; }"});
    ASSERT_TRUE(slow.Started()) << slow.Error();
    const std::vector<std::pair<std::string, uint64_t>> files = {
        {"one.bin", 1}, {"small.bin", 100 * 1024}, {"big.bin", 3 * 512 * 1024}};
    std::string list;
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_TRUE(slow.WritePatternFile("fullinst/" + files[i].first, files[i].second,
                                          static_cast<uint32_t>(i + 7)));
        list += slow.HttpUrl("/fullinst/" + files[i].first) + "\r\n";
    }
    ASSERT_TRUE(slow.WriteFile("fullinst/filelist.txt", list));

    ChildProcess host(Args(slow.HttpUrl("/fullinst/filelist.txt")));
    Run(host);
    EXPECT_EQ(host.ExitCode(), 0) << host.Out() << host.Err();
    for (const auto& [name, size] : files) {
        SCOPED_TRACE(name);
        const std::string got = tvxtest::ReadFile(dest_.Path() + "game/" + name);
        EXPECT_EQ(got.size(), size);
        EXPECT_TRUE(got == tvxtest::ReadFile(slow.PathOf("fullinst/" + name)));
    }
    EXPECT_NE(host.Out().find("progress "), std::string::npos) << host.Out();
    EXPECT_NE(host.Out().find("elapsed "), std::string::npos) << host.Out();
    EXPECT_NE(host.Out().find("done [3/3]"), std::string::npos) << host.Out();
    EXPECT_NE(host.Out().find("complete: 3 files"), std::string::npos) << host.Out();
}

}  // namespace
