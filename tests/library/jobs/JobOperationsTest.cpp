#include <gtest/gtest.h>

#include <string>

#include "LibraryHarness.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

using namespace tarvo;
using tvxtest::LibraryTest;
using tvxtest::SeenEvent;

using JobOperationsTest = LibraryTest;

TEST_F(JobOperationsTest, CreateJobRefusesAHandleThatNamesALiveJob) {
    JobHandle handle = 0;
    ASSERT_EQ(TarvoLib_CreateJob(&handle, "kind5", std::string(40, 'n').c_str()), result::kSuccess);
    EXPECT_NE(handle, 0u);
    EXPECT_STREQ(Job(handle).Kind(), "kin");
    EXPECT_EQ(std::string(Job(handle).Name()), std::string(32, 'n'));

    const JobHandle first = handle;
    EXPECT_EQ(TarvoLib_CreateJob(&handle, "k", "again"), result::kNotReady);
    EXPECT_EQ(handle, first);
    EXPECT_EQ(Manager().JobCount(), 1u);

    JobHandle other = 0;
    ASSERT_EQ(TarvoLib_CreateJob(&other, nullptr, nullptr), result::kSuccess);
    EXPECT_NE(other, first);
    EXPECT_STREQ(Job(other).Kind(), "");
    EXPECT_STREQ(Job(other).Name(), "");
    EXPECT_EQ(TarvoLib_CreateJob(nullptr, "k", "n"), result::kNotReady);
}

TEST_F(JobOperationsTest, AddFileChecksInItsOrder) {
    const JobHandle job = MakeJob("order", 0);
    const std::string folder = Folder("order");
    const std::string url = "http://127.0.0.1/a.bin";
    struct Case {
        const char* what;
        JobHandle job;
        const char* url;
        const char* folder;
        uint32_t lo;
        int32_t hi;
        ResultCode expected;
    };
    const Case cases[] = {
        {"size 0", job, url.c_str(), folder.c_str(), 0, 0, result::kInvalidSize},
        {"size -2", job, url.c_str(), folder.c_str(), 0xFFFFFFFEu, -1, result::kInvalidSize},
        {"size before job", 999, url.c_str(), folder.c_str(), 0, 0, result::kInvalidSize},
        {"unknown job before folder", 999, url.c_str(), "", 1, 0, result::kNotReady},
        {"empty folder", job, url.c_str(), "", 1, 0, result::kMissingFolder},
        {"null folder", job, url.c_str(), nullptr, 1, 0, result::kMissingFolder},
        {"null url", job, nullptr, folder.c_str(), 1, 0, result::kMissingUrl},
        {"empty url", job, "", folder.c_str(), 1, 0, result::kMissingUrl},
        {"size -1 accepted", job, url.c_str(), folder.c_str(), 0xFFFFFFFFu, -1, result::kSuccess},
        {"duplicate", job, url.c_str(), folder.c_str(), 5, 0, result::kNotReady},
        {"over 4 GiB", job, "http://127.0.0.1/big.bin", folder.c_str(), 0, 1, result::kSuccess},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TarvoLib_AddFileEx(c.job, c.url, c.folder, nullptr, c.lo, c.hi, 0, 0), c.expected)
            << c.what;
    }
    ASSERT_EQ(Job(job).FileCount(), 2u);
    EXPECT_EQ(Job(job).File(0).size, -1);
    EXPECT_EQ(Job(job).File(1).size, int64_t{1} << 32);
    EXPECT_EQ(Job(job).File(1).index, 1);
}

TEST_F(JobOperationsTest, EmptyFolderRaises528WithTheManagerAddressMessageFirst) {
    const JobHandle job = MakeJob("folderless", 0);
    host_.Clear();
    EXPECT_EQ(TarvoLib_AddFile(job, "http://127.0.0.1/a", "", nullptr, 1, 0, 0),
              result::kMissingFolder);
    const auto manager = reinterpret_cast<uintptr_t>(&Manager());
    const std::vector<SeenEvent> expected = {{SeenEvent::Via::Message, 528, manager},
                                             {SeenEvent::Via::Callback, 528, manager}};
    EXPECT_EQ(host_.Seen(), expected);
}

TEST_F(JobOperationsTest, FileNamesAndFoldersAreDerivedAndNormalised) {
    const JobHandle job = MakeJob("names", 0);
    const std::string base = platform::TempFolder();
    ASSERT_EQ(TarvoLib_AddFile(job, "  http://127.0.0.1/dir/Setup.EXE \t",
                               (base + "games/x/").c_str(), nullptr, 1, 0, 0),
              result::kSuccess);
    EXPECT_TRUE(platform::IsDirectory(base + "games/x/"));
    // Without a final "/" only the parent is made; the folder is stored with one.
    ASSERT_EQ(TarvoLib_AddFile(job, "nourl", (base + "other/y").c_str(), nullptr, 1, 0, 0),
              result::kSuccess);
    EXPECT_TRUE(platform::IsDirectory(base + "other/"));
    EXPECT_FALSE(platform::PathExists(base + "other/y"));
    ASSERT_EQ(TarvoLib_AddFile(job, "http://127.0.0.1/z", (base + "games/x/").c_str(), "given.bin",
                               1, 0, 0),
              result::kSuccess);

    const CJob& j = Job(job);
    EXPECT_EQ(j.File(0).url, "http://127.0.0.1/dir/Setup.EXE");
    EXPECT_EQ(j.File(0).name, "Setup.EXE");
    EXPECT_EQ(j.File(0).folder, base + "games/x/");
    EXPECT_EQ(j.File(1).name, "nourl");
    EXPECT_EQ(j.File(1).folder, base + "other/y/");
    EXPECT_EQ(j.File(2).name, "given.bin");
    EXPECT_EQ(j.DownloadFolder(), base + "games/x/");
}

TEST_F(JobOperationsTest, BackslashesBecomeSlashes) {
    const JobHandle job = MakeJob("slashes", 0);
    const std::string base = platform::TempFolder();
    ASSERT_EQ(
        TarvoLib_AddFile(job, "http://127.0.0.1/f", (base + "w\\v").c_str(), nullptr, 1, 0, 0),
        result::kSuccess);
    EXPECT_EQ(Job(job).File(0).folder, base + "w/v/");
}

TEST_F(JobOperationsTest, DuplicateInAnyLetterCaseIsRefused) {
    const JobHandle job = MakeJob("dup", 0);
    const std::string folder = Folder("dup");
    ASSERT_EQ(TarvoLib_AddFile(job, "http://127.0.0.1/Data.pak", folder.c_str(), nullptr, 1, 0, 0),
              result::kSuccess);
    EXPECT_EQ(
        TarvoLib_AddFile(job, "http://127.0.0.1/other/DATA.PAK", folder.c_str(), nullptr, 1, 0, 0),
        result::kNotReady);
}

TEST_F(JobOperationsTest, StartStopAndRemoveFollowTheHoldingDownloader) {
    JobHandle empty = 0;
    ASSERT_EQ(TarvoLib_CreateJob(&empty, "k", "empty"), result::kSuccess);
    EXPECT_EQ(TarvoLib_StartJob(empty, 1), result::kNotReady);
    EXPECT_EQ(TarvoLib_StartJob(0, 1), result::kNotReady);
    EXPECT_EQ(TarvoLib_StartJob(12345, 1), result::kNotReady);

    const JobHandle job = MakeJob("run");
    EXPECT_EQ(TarvoLib_StopJob(job), result::kNotReady);  // held by none
    ASSERT_EQ(TarvoLib_StartJob2(job, 0), result::kSuccess);
    EXPECT_EQ(Job(job).State(), JobState::Running);
    EXPECT_EQ(Job(job).Mode(), 0);
    EXPECT_TRUE(fake_->TickRunning());
    EXPECT_EQ(TarvoLib_StartJob(job, 1), result::kJobHeld);
    EXPECT_EQ(fake_->begins, 1);
    // Files cannot be added to a started job, but the folder is still checked first.
    EXPECT_EQ(
        TarvoLib_AddFile(job, "http://127.0.0.1/late", Folder("run").c_str(), nullptr, 1, 0, 0),
        result::kNotReady);
    EXPECT_EQ(TarvoLib_AddFile(job, "", Folder("run").c_str(), nullptr, 1, 0, 0),
              result::kNotReady);
    EXPECT_EQ(TarvoLib_AddFile(job, "http://127.0.0.1/late", "", nullptr, 1, 0, 0),
              result::kMissingFolder);

    EXPECT_EQ(TarvoLib_StopJob2(job, 99), result::kSuccess);
    EXPECT_EQ(Job(job).State(), JobState::Idle);
    EXPECT_EQ(fake_->ends, 1);
    EXPECT_FALSE(fake_->TickRunning());
    EXPECT_EQ(TarvoLib_StopJob(job), result::kNotReady);

    ASSERT_EQ(TarvoLib_StartJob(job, 1), result::kSuccess);
    EXPECT_EQ(TarvoLib_RemoveJob(job), result::kSuccess);
    EXPECT_EQ(fake_->ends, 2);
    EXPECT_EQ(fake_->HeldCount(), 0u);
    EXPECT_EQ(TarvoLib_RemoveJob(job), result::kNotReady);
    EXPECT_EQ(TarvoLib_GetJobProgress(job, nullptr), result::kNotReady);
}

TEST_F(JobOperationsTest, StartAnswersWhatTheDownloaderAnswers) {
    const JobHandle job = MakeJob("offline");
    fake_->beginResult = result::kOffline;
    EXPECT_EQ(TarvoLib_StartJob(job, 1), result::kOffline);
    // A job that did not begin is not held, so it can be started again.
    EXPECT_FALSE(fake_->Holds(&Job(job)));
    EXPECT_EQ(Job(job).State(), JobState::Idle);
    EXPECT_FALSE(fake_->TickRunning());
    fake_->beginResult = result::kSuccess;
    EXPECT_EQ(TarvoLib_StartJob(job, 1), result::kSuccess);
    Manager().SetDirectDownloader(nullptr);
    fake_ = nullptr;
    const JobHandle other = MakeJob("nobody");
    EXPECT_EQ(TarvoLib_StartJob(other, 1), result::kNotReady);
    EXPECT_EQ(TarvoLib_AnswerResume(other, 1, 1), result::kNotReady);
}

TEST_F(JobOperationsTest, FlagResumeAndRemainingSize) {
    const JobHandle job = MakeJob("misc");
    EXPECT_EQ(TarvoLib_SetJobFlag(job), result::kSuccess);
    EXPECT_EQ(Job(job).Flag(), 1);
    EXPECT_EQ(TarvoLib_SetJobFlag(4242), result::kNotReady);

    EXPECT_EQ(TarvoLib_AnswerResume(job, 1, 0), result::kJobNotHeld);
    ASSERT_EQ(TarvoLib_StartJob(job, 1), result::kSuccess);
    EXPECT_EQ(TarvoLib_AnswerResume(job, 1, 0), result::kSuccess);
    EXPECT_EQ(TarvoLib_AnswerResume(4242, 1, 0), result::kNotReady);
    ASSERT_EQ(fake_->answers.size(), 1u);
    EXPECT_EQ(fake_->answers[0], std::make_pair(1, 0));

    int64_t remaining = -5;
    // No total yet and no size checker to fall back on.
    EXPECT_EQ(TarvoLib_GetRemainingSize(job, &remaining), result::kNotReady);
    EXPECT_EQ(TarvoLib_GetRemainingSize(4242, &remaining), result::kNotReady);
    JobStatus status{};
    status.total = 1000;
    status.downloaded = 250;
    fake_->SetJobStatus(&Job(job), status);
    EXPECT_EQ(TarvoLib_GetRemainingSize(job, &remaining), result::kSuccess);
    EXPECT_EQ(remaining, 750);

    int64_t total = 99;
    EXPECT_EQ(TarvoLib_GetTotalSize(&total), result::kSuccess);
    EXPECT_EQ(total, 99);  // no checker: left unchanged
    EXPECT_EQ(TarvoLib_SetEngineText(nullptr), result::kSuccess);
}

TEST_F(JobOperationsTest, HandlesOfRemovedJobsAreNotReused) {
    const JobHandle first = MakeJob("first", 0);
    ASSERT_EQ(TarvoLib_RemoveJob(first), result::kSuccess);
    const JobHandle second = MakeJob("second", 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(TarvoLib_SetJobFlag(first), result::kNotReady);
    EXPECT_EQ(Job(second).Serial(), 1);
}

}  // namespace
