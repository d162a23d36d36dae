#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LibraryHarness.h"
#include "library/api/LibraryState.h"
#include "library/common/Log.h"
#include "platform/Event.h"
#include "support/TempDir.h"

namespace {

using namespace tarvo;
using tvxtest::RecordingHost;

std::string LogText() {
    return tvxtest::ReadFile(LogFilePath());
}

// The log's folder exists once a job downloader has been made; until the
// downloaders come with set-up, each test makes it here.
class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetLogFile(); }
};

TEST_F(LifecycleTest, FinalizeWithoutInitializeWritesItsTwoLines) {
    EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
    const std::string log = LogText();
    const size_t begin = log.find("] [TarvoLib] Finalize Begin\n");
    const size_t end = log.find("] [TarvoLib] Finalize End\n");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(begin, end);
}

TEST_F(LifecycleTest, EveryForwardingEntryAnswers517BeforeInitialisation) {
    JobHandle handle = 0;
    int64_t size = 7;
    JobStatus status{};
    JobSizeRecord sizeRecord{};
    JobResultRecord resultRecord{};
    CompletedFileRecord completed{};
    int32_t length = 0;
    char text[8] = {};
    JobMessage message{0, text};
    DataBuffer buffer{text, 8};
    const std::vector<std::pair<const char*, std::function<ResultCode()>>> entries = {
        {"DownloadData", [] { return TarvoLib_DownloadData("http://127.0.0.1/a"); }},
        {"DownloadData2", [] { return TarvoLib_DownloadData2("http://127.0.0.1/a"); }},
        {"GetDataSize", [&] { return TarvoLib_GetDataSize(&size); }},
        {"GetData", [&] { return TarvoLib_GetData(&buffer); }},
        {"AddSizeCheckUrl", [] { return TarvoLib_AddSizeCheckUrl("http://127.0.0.1/a"); }},
        {"StartSizeCheck", [] { return TarvoLib_StartSizeCheck(); }},
        {"GetTotalSize", [&] { return TarvoLib_GetTotalSize(&size); }},
        {"CreateJob", [&] { return TarvoLib_CreateJob(&handle, "k", "n"); }},
        {"RemoveJob", [] { return TarvoLib_RemoveJob(1); }},
        {"AddFileEx", [] { return TarvoLib_AddFileEx(1, "u", "/tmp/", "f", 1, 0, 0, 0); }},
        {"AddFile", [] { return TarvoLib_AddFile(1, "u", "/tmp/", "f", 1, 0, 0); }},
        {"StartJob", [] { return TarvoLib_StartJob(1, 1); }},
        {"StartJob2", [] { return TarvoLib_StartJob2(1, 1); }},
        {"StopJob", [] { return TarvoLib_StopJob(1); }},
        {"StopJob2", [] { return TarvoLib_StopJob2(1, 0); }},
        {"SetJobFlag", [] { return TarvoLib_SetJobFlag(1); }},
        {"AnswerResume", [] { return TarvoLib_AnswerResume(1, 1, 0); }},
        {"SetEngineText", [] { return TarvoLib_SetEngineText("x"); }},
        {"GetJobProgress", [&] { return TarvoLib_GetJobProgress(1, &status); }},
        {"GetRemainingSize", [&] { return TarvoLib_GetRemainingSize(1, &size); }},
        {"GetJobSize", [&] { return TarvoLib_GetJobSize(1, &sizeRecord); }},
        {"GetJobResult", [&] { return TarvoLib_GetJobResult(1, &resultRecord); }},
        {"GetCompletedFile", [&] { return TarvoLib_GetCompletedFile(1, &completed); }},
        {"GetJobMessageLength", [&] { return TarvoLib_GetJobMessageLength(1, &length); }},
        {"GetJobMessage", [&] { return TarvoLib_GetJobMessage(1, &message); }},
    };
    for (const auto& [name, call] : entries)
        EXPECT_EQ(call(), result::kNotReady) << name;
    EXPECT_EQ(size, 7);
    EXPECT_EQ(handle, 0u);
}

TEST_F(LifecycleTest, SecondInitialiseAnswers518UntilFinalised) {
    RecordingHost host;
    ASSERT_EQ(TarvoLib_Initialize(&host, nullptr, 0), result::kSuccess);
    EXPECT_EQ(TarvoLib_Initialize(&host, nullptr, 0), result::kAlreadyInitialised);
    EXPECT_EQ(TarvoLib_InitializeEx(nullptr, nullptr, 0, 0), result::kAlreadyInitialised);
    EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
    EXPECT_EQ(TarvoLib_Initialize(&host, nullptr, 0), result::kSuccess);
    EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
    const std::string log = LogText();
    EXPECT_NE(log.find("] [TarvoLib] Initialize\n"), std::string::npos);
    EXPECT_NE(log.find("] [TarvoLib] Exit GetMessage Loop\n"), std::string::npos);
    EXPECT_NE(log.find("] [TarvoLib] Destroy JobManager\n"), std::string::npos);
}

TEST_F(LifecycleTest, ContextComesBackAndIsClearedByFinalize) {
    ASSERT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0x1234), result::kSuccess);
    EXPECT_EQ(TarvoLib_GetContext(), 0x1234u);
    TarvoLib_Finalize();
    EXPECT_EQ(TarvoLib_GetContext(), 0u);
}

TEST_F(LifecycleTest, ElevateFlagIsStoredBySetUp) {
    ASSERT_EQ(TarvoLib_InitializeEx(nullptr, nullptr, 0, 0), result::kSuccess);
    EXPECT_EQ(ElevateFlag(), 0);
    TarvoLib_Finalize();
    ASSERT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0), result::kSuccess);
    EXPECT_EQ(ElevateFlag(), 1);
    TarvoLib_Finalize();
}

platform::Event gReleaseWorker;

TEST_F(LifecycleTest, WorkerThatMissesTheHandshakeLeavesALibraryWithoutManager) {
    hooks::SetHandshakeTimeout(50);
    hooks::SetWorkerStartHook([] { gReleaseWorker.Wait(10000); });

    EXPECT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0x77), result::kNotReady);
    EXPECT_NE(LogText().find("] [TarvoLib] Initialize Failed : 517\n"), std::string::npos);
    EXPECT_EQ(TarvoLib_GetContext(), 0x77u);
    // Failed, yet initialised: a second call is refused and nothing forwards.
    EXPECT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0), result::kAlreadyInitialised);
    JobHandle handle = 0;
    EXPECT_EQ(TarvoLib_CreateJob(&handle, "k", "n"), result::kNotReady);

    // Even once the late worker has made its manager, the library stays unusable.
    gReleaseWorker.Set();
    hooks::SetWorkerStartHook(nullptr);
    EXPECT_EQ(TarvoLib_CreateJob(&handle, "k", "n"), result::kNotReady);

    EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
    hooks::SetHandshakeTimeout(0);
    EXPECT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0), result::kSuccess);
    EXPECT_EQ(TarvoLib_CreateJob(&handle, "k", "n"), result::kSuccess);
    TarvoLib_Finalize();
}

TEST_F(LifecycleTest, WorkerThatDoesNotEndInTimeIsLeftBehindWithoutFreeingUnderIt) {
    ASSERT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0), result::kSuccess);
    static platform::Event release;
    static platform::Event stuck;
    // Block the worker in a posted task so it cannot see the quit request.
    CDownloadLibThread::Instance()->Loop().Post([] {
        stuck.Set();
        release.Wait(10000);
    });
    ASSERT_TRUE(stuck.Wait(5000));
    EXPECT_EQ(TarvoLib_Finalize(), result::kSuccess);
    EXPECT_NE(LogText().find("] [TarvoLib] Force TerminateThread\n"), std::string::npos);
    EXPECT_EQ(CDownloadLibThread::Instance(), nullptr);
    // The worker comes free later, ends on its own and frees what it kept.
    release.Set();
    for (int i = 0; i < 500 && hooks::LiveWorkers() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(hooks::LiveWorkers(), 0);
}

}  // namespace
