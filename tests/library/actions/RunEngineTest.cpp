// Starting the engine from the engine folder and waiting for its readiness:
// on the library's worker loop (without blocking it) and blocking.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>

#include "LibraryHarness.h"
#include "UpdateTestSupport.h"
#include "library/actions/CBinaryExecute_V3.h"
#include "library/common/Log.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

class RunEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder()));
        ResetLogFile();
        mark_ = dir_.Path() + "mark";
        setenv("TVX_TEST_ENGINE_MARK", mark_.c_str(), 1);
        setenv("TVX_TEST_ENGINE_LINGER_MS", "3000", 1);
        unsetenv("TVX_TEST_ENGINE_MODE");
    }
    void TearDown() override {
        // The engine lingers; end it rather than leave it behind.
        const int pid = std::atoi(tvxtest::ReadFile(mark_).c_str());
        if (pid > 0)
            kill(pid, SIGTERM);
    }
    // The engine's "<pid> <fd>" once it ran.
    std::string Mark() const { return tvxtest::ReadFile(mark_); }
    bool Alive() const {
        const int pid = std::atoi(Mark().c_str());
        return pid > 0 && kill(pid, 0) == 0;
    }

    tvxtest::TempDir dir_;
    std::string mark_;
};

TEST_F(RunEngineTest, WithoutAnEngineNothingStarts) {
    EXPECT_EQ(CBinaryExecute_V3::Instance().RunEngine(), 0);
    EXPECT_NE(tvxtest::ReadFile(LogFilePath()).find("[TarvoLib] Run Binary (no executable file)"),
              std::string::npos);
    std::string path;
    EXPECT_EQ(CBinaryExecute_V3::Instance().GetPath(path), 0);
    EXPECT_EQ(path, tvxtest::EnginePath());
    EXPECT_FALSE(platform::PathExists(mark_));
}

TEST_F(RunEngineTest, BlockingStartEndsWithTheReadinessByte) {
    ASSERT_TRUE(tvxtest::InstallTestEngine());
    setenv("TVX_READY_FD", "99", 1);  // an inherited value is replaced, not passed on
    const std::string stdio = dir_.Path() + "stdio";
    setenv("TVX_TEST_ENGINE_STDIO", stdio.c_str(), 1);
    EXPECT_EQ(CBinaryExecute_V3::Instance().RunEngine(), 1);
    unsetenv("TVX_READY_FD");
    unsetenv("TVX_TEST_ENGINE_STDIO");
    // The engine outlives its host: it holds none of the host's streams.
    EXPECT_EQ(tvxtest::ReadFile(stdio), "/dev/null\n/dev/null\n/dev/null\n");
    // Ready while it still runs: the byte ended the wait, not its exit.
    EXPECT_TRUE(Alive());
    EXPECT_NE(Mark().substr(Mark().find(' ') + 1), "99\n");
    struct stat st {};
    ASSERT_EQ(stat(tvxtest::EnginePath().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    const std::string log = tvxtest::ReadFile(LogFilePath());
    const size_t ok = log.find("[TarvoLib] Execute OK(0)");
    const size_t begin = log.find("[TarvoLib] Begin WFII");
    const size_t end = log.find("[TarvoLib] End WFII");
    ASSERT_NE(end, std::string::npos) << log;
    EXPECT_LT(ok, begin);
    EXPECT_LT(begin, end);
}

class RunEngineOnWorkerTest : public RunEngineTest {
  protected:
    void SetUp() override {
        RunEngineTest::SetUp();
        ASSERT_EQ(TarvoLib_Initialize(&host_, nullptr, 0), tarvo::result::kSuccess);
    }
    void TearDown() override {
        OnWorker([this] {
            wait_.reset();
            return 0;
        });
        TarvoLib_Finalize();
        RunEngineTest::TearDown();
    }
    template <typename F>
    auto OnWorker(F work) -> decltype(work()) {
        std::promise<decltype(work())> done;
        CDownloadLibThread::Instance()->Loop().Post([&] { done.set_value(work()); });
        return done.get_future().get();
    }
    // Starts the engine on the worker; the future is set when the wait ended.
    int Start(std::promise<void>& ready) {
        return OnWorker([&] {
            return CBinaryExecute_V3::Instance().RunEngine(
                CDownloadLibThread::Instance()->Loop(), [&ready] { ready.set_value(); }, wait_);
        });
    }
    tvxtest::RecordingHost host_;
    std::unique_ptr<CEngineReadyWait> wait_;
};

TEST_F(RunEngineOnWorkerTest, EveryWayTheEngineEndsTheWait) {
    ASSERT_TRUE(tvxtest::InstallTestEngine());
    for (const char* mode : {"signal", "close", "exit", "daemon"}) {
        SCOPED_TRACE(mode);
        setenv("TVX_TEST_ENGINE_MODE", mode, 1);
        std::remove(mark_.c_str());
        std::promise<void> ready;
        ASSERT_EQ(Start(ready), 1);
        // The loop keeps serving while the engine gets ready.
        EXPECT_EQ(OnWorker([] { return 7; }), 7);
        EXPECT_EQ(ready.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_FALSE(Mark().empty());
        if (std::string(mode) == "signal" || std::string(mode) == "close") {
            EXPECT_TRUE(Alive());
        }
        const int pid = std::atoi(Mark().c_str());
        if (pid > 0)
            kill(pid, SIGTERM);
        OnWorker([this] {
            wait_.reset();
            return 0;
        });
    }
}

TEST_F(RunEngineOnWorkerTest, ADestroyedWaitCallsNothing) {
    ASSERT_TRUE(tvxtest::InstallTestEngine());
    setenv("TVX_TEST_ENGINE_MODE", "signal", 1);
    bool called = false;
    OnWorker([&] {
        const int started = CBinaryExecute_V3::Instance().RunEngine(
            CDownloadLibThread::Instance()->Loop(), [&called] { called = true; }, wait_);
        wait_.reset();
        return started;
    });
    // Give the engine time to signal; nothing is delivered any more.
    for (int i = 0; i < 50 && Mark().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(OnWorker([&] { return called; }));
}

}  // namespace
