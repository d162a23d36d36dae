#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "LibraryHarness.h"
#include "library/common/Log.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> LogLines() {
    std::istringstream in(tvxtest::ReadFile(LogFilePath()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

const std::regex kLine(
    R"(\[(Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\] (.*))");

class NullListener final : public IJobDownloadEventListener {
  public:
    void OnUpdateFileBegin(const char*, int64_t) override {}
    void OnUpdateFileProgress(int64_t) override {}
    void OnEngineReady() override {}
    void OnEngineFailed() override {}
    void OnEngineLost() override {}
    void OnJobFallback(CJob*) override {}
    void OnPathAccessFailed(int32_t) override {}
    void OnEngineState(int32_t) override {}
};

TEST(LogTest, PathIsInThePublisherFolderOfTheApplicationData) {
    EXPECT_EQ(LogFilePath(), std::string(std::getenv("XDG_DATA_HOME")) +
                                 "/Brenholt/vrDownloader/config/service.log");
    char small[8];
    GetLogFilePath(small, sizeof small);
    EXPECT_EQ(std::string(small), LogFilePath().substr(0, 7));
}

TEST(LogTest, LinesHaveTheTimePrefixAndLongLinesAreWrittenWhole) {
    ResetLogFile();
    WriteLog("[TarvoLib] plain");
    const std::string longText(600, 'x');
    WriteLogFormat("[TarvoLib] %s %d", longText.c_str(), 7);
    WriteLogFormat("%s", "");
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[2], "[TarvoLib] plain");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine));
    EXPECT_EQ(m[2], "[TarvoLib] " + longText + " 7");
    ASSERT_TRUE(std::regex_match(lines[2], m, kLine));
    EXPECT_EQ(m[2], "");
    EXPECT_EQ(tvxtest::ReadFile(LogFilePath()).find('\r'), std::string::npos);
}

TEST(LogTest, TimeTextIsTheFixed24CharacterForm) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(tarvo::detail::LogTimeText(1623186395), "Tue Jun 08 21:06:35 2021");
    EXPECT_EQ(tarvo::detail::LogTimeText(0), "Thu Jan 01 00:00:00 1970");
}

TEST(LogTest, EveryJobDownloaderConstructionEmptiesTheLog) {
    ResetLogFile();
    WriteLog("old line");
    NullListener listener;
    qvSmartPtr<cpCMutex> lock;
    ASSERT_TRUE(lock.CreateInstance(qvClassId::kMutex));
    {
        tvxtest::FakeDownloader first(&listener, lock);
        WriteLog("between");
        tvxtest::FakeDownloader second(&listener, lock);
    }
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine));
    EXPECT_EQ(m[2], "[TarvoLib] Launch(3.5.0.2)");
}

TEST(LogTest, InitialiseAndFinalizeWriteTheirLinesInOrder) {
    WriteLog("from before");
    ASSERT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0), tarvo::result::kSuccess);
    TarvoLib_Finalize();
    std::vector<std::string> texts;
    for (const std::string& line : LogLines()) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kLine));
        texts.push_back(m[2]);
    }
    // Making the job downloader at set-up empties the log first.
    const std::vector<std::string> expected = {
        "[TarvoLib] Launch(3.5.0.2)",    "[TarvoLib] Initialize",
        "[TarvoLib] Finalize Begin",     "[TarvoLib] Exit GetMessage Loop",
        "[TarvoLib] Destroy JobManager", "[TarvoLib] CPlatFormDownloader Destroy",
        "[TarvoLib] Finalize End"};
    EXPECT_EQ(texts, expected);
}

TEST(LogTest, WithoutApplicationDataTheExecutableFolderStandsIn) {
    const std::string data = std::getenv("XDG_DATA_HOME");
    const std::string home = std::getenv("HOME");
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    tarvo::detail::ResetLogPathCache();
    const std::string path = LogFilePath();
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    tarvo::detail::ResetLogPathCache();
    EXPECT_EQ(path, platform::ExecutableFolder() + "Brenholt/vrDownloader/config/service.log");
}

}  // namespace
