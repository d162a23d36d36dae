#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "LibraryHarness.h"
#include "platform/Event.h"

namespace {

using namespace tarvo;
using tvxtest::LibraryTest;
using tvxtest::SeenEvent;

class RecordsTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        job_ = MakeJob("records", 2);
        ASSERT_EQ(TarvoLib_StartJob(job_, 1), result::kSuccess);
        host_.Clear();
    }
    CJob* J() { return &Job(job_); }
    void SetDownloaded(int64_t bytes) {
        JobStatus status = J()->Status();
        status.fileCount = 2;
        status.downloaded = bytes;
        fake_->SetJobStatus(J(), status);
    }

    JobHandle job_ = 0;
};

TEST_F(RecordsTest, TickRaisesProgressOnlyOnceBytesArrived) {
    fake_->RunTick();
    EXPECT_TRUE(host_.Seen().empty());
    EXPECT_EQ(fake_->ticks, 1);
    SetDownloaded(10);
    fake_->RunTick();
    const std::vector<SeenEvent> expected = {{SeenEvent::Via::Message, 514, job_},
                                             {SeenEvent::Via::Callback, 514, job_}};
    EXPECT_EQ(host_.Seen(), expected);
}

TEST_F(RecordsTest, CompletionWithBytesRaisesProgressThenCompleted) {
    SetDownloaded(10);
    fake_->CompleteJob(J(), 2, 0);
    EXPECT_EQ(host_.CallbackCodes(), (std::vector<int32_t>{514, 516}));
    EXPECT_EQ(J()->State(), JobState::Completed);
    EXPECT_FALSE(fake_->Holds(J()));
    EXPECT_FALSE(fake_->TickRunning());
    JobResultRecord record{-1, -1, -1};
    ASSERT_EQ(TarvoLib_GetJobResult(job_, &record), result::kSuccess);
    EXPECT_EQ(record.fileCount, 2);
    EXPECT_EQ(record.valueA, 2);
    EXPECT_EQ(record.valueB, 0);
    // Moved out: the next read leaves the output as it is.
    JobResultRecord again{-1, -1, -1};
    ASSERT_EQ(TarvoLib_GetJobResult(job_, &again), result::kSuccess);
    EXPECT_EQ(again.fileCount, -1);
}

TEST_F(RecordsTest, CompletionWithoutBytesRaisesOnlyCompleted) {
    fake_->CompleteJob(J(), 0, 0);
    EXPECT_EQ(host_.CallbackCodes(), (std::vector<int32_t>{516}));
}

TEST_F(RecordsTest, SizeRecordReplacedBeforeItIsRead) {
    fake_->ReportSizeKnown(J(), 2, 100);
    fake_->ReportSizeKnown(J(), 2, 300);
    EXPECT_EQ(host_.CallbackCodes(), (std::vector<int32_t>{513, 513}));
    JobSizeRecord record{-1, -1};
    ASSERT_EQ(TarvoLib_GetJobSize(job_, &record), result::kSuccess);
    EXPECT_EQ(record.fileCount, 2);
    EXPECT_EQ(record.total, 300);
    JobSizeRecord untouched{-1, -1};
    ASSERT_EQ(TarvoLib_GetJobSize(job_, &untouched), result::kSuccess);
    EXPECT_EQ(untouched.total, -1);
    // Once bytes have arrived the size is no longer announced.
    SetDownloaded(1);
    host_.Clear();
    fake_->ReportSizeKnown(J(), 2, 500);
    EXPECT_TRUE(host_.Seen().empty());
}

TEST_F(RecordsTest, CompletedFileRecordsCarryUrlCommaAndPath) {
    SetDownloaded(1);
    const FileEntry& first = J()->File(0);
    const std::string path = first.LocalPath();
    std::string upper = path;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));

    fake_->ReportFileDone(J(), upper.c_str(), nullptr, first.url.c_str());
    fake_->ReportFileDone(J(), path.c_str(), nullptr, first.url.c_str());  // already done
    fake_->ReportFileDone(J(), "/no/such/file", nullptr, "x");
    const std::string second = J()->File(1).LocalPath();
    fake_->ReportFileDone(J(), second.c_str(), "detail text", "extra");
    EXPECT_EQ(host_.CallbackCodes(), (std::vector<int32_t>{515, 515}));

    CompletedFileRecord record{};
    ASSERT_EQ(TarvoLib_GetCompletedFile(job_, &record), result::kSuccess);
    EXPECT_EQ(record.fileCount, 2);
    EXPECT_EQ(record.sequence, 1);
    EXPECT_EQ(std::string(record.text), first.url + "," + upper);
    ASSERT_EQ(TarvoLib_GetCompletedFile(job_, &record), result::kSuccess);
    EXPECT_EQ(record.sequence, 2);
    EXPECT_STREQ(record.text, "extra,detail text");
    EXPECT_EQ(J()->File(1).state, FileState::Done);
}

TEST_F(RecordsTest, CompletedFileTextIsCutAt1023Characters) {
    const std::string path = J()->File(0).LocalPath();
    const std::string longExtra(2000, 'u');
    fake_->ReportFileDone(J(), path.c_str(), nullptr, longExtra.c_str());
    CompletedFileRecord record{};
    ASSERT_EQ(TarvoLib_GetCompletedFile(job_, &record), result::kSuccess);
    EXPECT_EQ(std::strlen(record.text), 1023u);
}

TEST_F(RecordsTest, MessagesWithAndWithoutText) {
    fake_->QueueJobMessage(J(), message::kDownloadFailed, "http://127.0.0.1/a");
    fake_->QueueJobMessage(J(), message::kNetworkDown, nullptr);
    fake_->QueueJobMessage(J(), message::kNetworkBack, "");
    EXPECT_EQ(host_.CallbackCodes(), (std::vector<int32_t>{517, 517, 517}));

    int32_t length = -1;
    ASSERT_EQ(TarvoLib_GetJobMessageLength(job_, &length), result::kSuccess);
    EXPECT_EQ(length, 19);
    std::string buffer(length, '#');
    JobMessage message{0, buffer.data()};
    ASSERT_EQ(TarvoLib_GetJobMessage(job_, &message), result::kSuccess);
    EXPECT_EQ(message.code, message::kDownloadFailed);
    EXPECT_STREQ(buffer.c_str(), "http://127.0.0.1/a");

    for (int32_t expected : {message::kNetworkDown, message::kNetworkBack}) {
        ASSERT_EQ(TarvoLib_GetJobMessageLength(job_, &length), result::kSuccess);
        EXPECT_EQ(length, 0);
        char untouched[4] = "abc";
        JobMessage bare{0, untouched};
        ASSERT_EQ(TarvoLib_GetJobMessage(job_, &bare), result::kSuccess);
        EXPECT_EQ(bare.code, expected);
        EXPECT_STREQ(untouched, "abc");
    }
    JobMessage none{0, nullptr};
    ASSERT_EQ(TarvoLib_GetJobMessage(job_, &none), result::kSuccess);
    EXPECT_EQ(none.code, result::kSuccess);
}

TEST_F(RecordsTest, FailJobLetsGoAndStillQueuesItsMessage) {
    fake_->FailJob(J(), message::kEngineGaveUp, "gave up");
    EXPECT_FALSE(fake_->Holds(J()));
    EXPECT_EQ(J()->State(), JobState::Running);
    EXPECT_EQ(host_.CallbackCodes(), (std::vector<int32_t>{517}));
    // Helpers ignore a job that is no longer held.
    fake_->QueueJobMessage(J(), message::kDownloadFailed, "x");
    EXPECT_EQ(host_.CallbackCodes().size(), 1u);
}

TEST_F(RecordsTest, MarkAllOfflineQueuesNetworkDownForEveryHeldJob) {
    const JobHandle other = MakeJob("other");
    ASSERT_EQ(TarvoLib_StartJob(other, 1), result::kSuccess);
    host_.Clear();
    fake_->MarkAllOffline();
    const std::vector<SeenEvent> seen = host_.Seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], (SeenEvent{SeenEvent::Via::Callback, 517, job_}));
    EXPECT_EQ(seen[3], (SeenEvent{SeenEvent::Via::Callback, 517, other}));
}

TEST_F(RecordsTest, WorkerAppendsAndHostTakesSafelyAtTheSameTime) {
    constexpr int kCount = 3000;
    CJob* job = J();
    platform::Event done;
    CDownloadLibThread::Instance()->Loop().Post([job, &done] {
        for (int i = 0; i < kCount; ++i) {
            const std::string text = "message " + std::to_string(i);
            // Appends without the engine lock: only the job's own guard protects them.
            job->PushMessage(message::kDownloadFailed, text.c_str());
            CompletedFileRecord record{};
            record.sequence = i;
            job->PushCompletedFile(record);
        }
        done.Set();
    });
    int messages = 0;
    int completed = 0;
    char buffer[64];
    while (messages < kCount || completed < kCount) {
        int32_t length = 0;
        ASSERT_EQ(TarvoLib_GetJobMessageLength(job_, &length), result::kSuccess);
        ASSERT_LT(length, static_cast<int32_t>(sizeof buffer));
        JobMessage message{0, buffer};
        ASSERT_EQ(TarvoLib_GetJobMessage(job_, &message), result::kSuccess);
        if (message.code == message::kDownloadFailed) {
            EXPECT_EQ(std::string(buffer), "message " + std::to_string(messages));
            ++messages;
        }
        CompletedFileRecord record{};
        record.sequence = -1;
        ASSERT_EQ(TarvoLib_GetCompletedFile(job_, &record), result::kSuccess);
        if (record.sequence >= 0) {
            EXPECT_EQ(record.sequence, completed);
            ++completed;
        }
    }
    EXPECT_TRUE(done.Wait(5000));
}

}  // namespace
