// Launchers as real processes: one per file-list URL, the second showing its
// message and bringing the first one's window back, and a killed first
// launcher leaving nothing behind that blocks the next.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ProbeProcess.h"

using tvxtest::ProbeProcess;

namespace {

const char kUrl[] = "http://127.0.0.1:1/halvard2/fullinst/filelist.txt";
const char kMessage[] = "MESSAGE Halvard2|이미 다운로드가 진행 중 입니다.";
const char kRunning[] = "RUNNING Halvard2 Velmora Inc.";

// Runs a launcher that must find another one running: its whole output.
std::vector<std::string> SecondLauncher(const std::string& url) {
    ProbeProcess second(url);
    EXPECT_TRUE(second.Started());
    std::vector<std::string> lines = second.RemainingLines();
    EXPECT_EQ(second.WaitForExit(), 0);
    return lines;
}

class SingleInstanceTest : public testing::Test {
  protected:
    // A runtime folder is private to its user; Qt warns about any other.
    static void SetUpTestSuite() { chmod(getenv("XDG_RUNTIME_DIR"), 0700); }
};

}  // namespace

TEST_F(SingleInstanceTest, SecondLauncherShowsTheMessageOnceAndRestoresTheFirst) {
    ProbeProcess first(kUrl, {"TVX_PROBE_MINIMISED=1"});
    ASSERT_EQ(first.NextLine(), kRunning);

    EXPECT_EQ(SecondLauncher(kUrl), std::vector<std::string>{kMessage});
    // The first one was minimised; it is back and still running.
    EXPECT_EQ(first.NextLine(), "ACTIVATED minimised normal");
    EXPECT_EQ(SecondLauncher(kUrl), std::vector<std::string>{kMessage});
    EXPECT_EQ(first.NextLine(), "ACTIVATED normal normal");

    first.CloseInput();
    EXPECT_EQ(first.WaitForExit(), 0);
    // Its end frees the name.
    ProbeProcess later(kUrl);
    EXPECT_EQ(later.NextLine(), kRunning);
}

TEST_F(SingleInstanceTest, DifferentFileListsRunSideBySide) {
    ProbeProcess first(kUrl);
    ASSERT_EQ(first.NextLine(), kRunning);
    ProbeProcess other(std::string(kUrl) + "?other");
    EXPECT_EQ(other.NextLine(), kRunning);
}

TEST_F(SingleInstanceTest, NamesLongerThan260CharactersCompareTheirStart) {
    const std::string base = "http://127.0.0.1:1/" + std::string(260, 'x');
    ProbeProcess first(base + "/one.txt");
    ASSERT_EQ(first.NextLine(), kRunning);
    EXPECT_EQ(SecondLauncher(base + "/two.txt"), std::vector<std::string>{kMessage});
    EXPECT_EQ(first.NextLine(), "ACTIVATED normal normal");
}

TEST_F(SingleInstanceTest, KilledFirstLauncherDoesNotBlockTheNext) {
    {
        ProbeProcess first(kUrl);
        ASSERT_EQ(first.NextLine(), kRunning);
        first.Kill(SIGKILL);
        EXPECT_EQ(first.WaitForExit(), -1);
    }
    // Its lock went with it; its socket file is still there and is replaced.
    ProbeProcess next(kUrl);
    ASSERT_EQ(next.NextLine(), kRunning);
    EXPECT_EQ(SecondLauncher(kUrl), std::vector<std::string>{kMessage});
    EXPECT_EQ(next.NextLine(), "ACTIVATED normal normal");
}
