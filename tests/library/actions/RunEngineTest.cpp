// Starting the engine from the engine folder and waiting for its readiness:
// on the library's worker loop (without blocking it) and blocking; and the
// starts that fail, with their reasons.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // The engine outlives its host: it holds none of the host's streams. Its
    // standard error goes to a file beside it.
    EXPECT_EQ(tvxtest::ReadFile(stdio), "/dev/null\n/dev/null\n" + tvxtest::EngineFolder() +
                                            CBinaryExecute_V3::kErrorFileName + "\n");
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
    // Starts the engine on the worker; the promise gets the start's outcome.
    int Start(std::promise<platform::StartOutcome>& ended) {
        return OnWorker([&] {
            platform::StartOutcome failure;
            return CBinaryExecute_V3::Instance().RunEngine(
                CDownloadLibThread::Instance()->Loop(),
                [&ended](const platform::StartOutcome& outcome) { ended.set_value(outcome); },
                wait_, failure);
        });
    }
    tvxtest::RecordingHost host_;
    std::unique_ptr<platform::ProcessStart> wait_;
};

TEST_F(RunEngineOnWorkerTest, EveryWayTheEngineEndsTheWait) {
    ASSERT_TRUE(tvxtest::InstallTestEngine());
    struct Case {
        const char* mode;
        bool ready;
        const char* reason;
    };
    // A closed pipe is ready only while the engine runs on; a clean exit
    // leaves the work to its child; any other end before readiness failed.
    for (const Case& c : {Case{"signal", true, ""}, Case{"close", true, ""},
                          Case{"daemon", true, ""},
                          Case{"exit", false, "exited with status 3 before it was ready: "
                                              "the test engine says it cannot go on"},
                          Case{"crash", false, "killed by signal 6 (Aborted)"}}) {
        SCOPED_TRACE(c.mode);
        setenv("TVX_TEST_ENGINE_MODE", c.mode, 1);
        std::remove(mark_.c_str());
        ResetLogFile();
        std::promise<platform::StartOutcome> ended;
        ASSERT_EQ(Start(ended), 1);
        // The loop keeps serving while the engine gets ready.
        EXPECT_EQ(OnWorker([] { return 7; }), 7);
        auto future = ended.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        const platform::StartOutcome outcome = future.get();
        EXPECT_EQ(outcome.IsReady(), c.ready) << outcome.reason;
        // Nothing a crash or an exit says is taken for a start that can never work.
        EXPECT_FALSE(outcome.lasting);
        EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
        EXPECT_FALSE(Mark().empty());
        if (std::string(c.mode) == "signal" || std::string(c.mode) == "close") {
            EXPECT_TRUE(Alive());
        }
        const std::string log = tvxtest::ReadFile(LogFilePath());
        EXPECT_EQ(log.find("[TarvoLib] Engine start failed") == std::string::npos, c.ready) << log;
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
        platform::StartOutcome failure;
        const int started = CBinaryExecute_V3::Instance().RunEngine(
            CDownloadLibThread::Instance()->Loop(),
            [&called](const platform::StartOutcome&) { called = true; }, wait_, failure);
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

namespace {

// Starts that can never work on this system: the engine file cannot be
// executed, or the dynamic loader cannot find a library it needs. Each is
// told as lasting, with the system's or the loader's own words.
TEST_F(RunEngineTest, AnEngineThatCannotStartSaysWhyAndThatItWillNotChange) {
    ASSERT_TRUE(tvxtest::InstallTestEngine());
    std::string engine = tvxtest::ReadFile(tvxtest::EnginePath());
    // The same program, but its interpreter is nowhere (the same length, so
    // the program stays whole).
    const std::string interpreter = "/lib64/ld-linux-";
    const size_t at = engine.find(interpreter);
    ASSERT_NE(at, std::string::npos);
    engine.replace(at, interpreter.size(), "/lib64/ld-nowhr-");
    const std::string badInterpreter = engine;
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    for (const Case& c :
         {Case{"bad interpreter", badInterpreter, "cannot be executed: No such file or directory"},
          Case{"missing library", tvxtest::ReadFile(TVX_TEST_ENGINE_NEEDS_LIBRARY),
               "exited with status 127 before it was ready: "},
          Case{"not a program", std::string("MZ\x90\x00 a Windows program", 22),
               "cannot be executed: Exec format error"}}) {
        SCOPED_TRACE(c.name);
        ResetLogFile();
        ASSERT_TRUE(tvxtest::WriteFile(tvxtest::EnginePath(), c.bytes));
        // No desktop opener either: a file that is no program fails at once.
        const std::string path = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", dir_.Path().c_str(), 1);
        platform::StartOutcome outcome;
        EXPECT_EQ(CBinaryExecute_V3::Instance().RunEngine(&outcome), 0);
        setenv("PATH", path.c_str(), 1);
        EXPECT_FALSE(outcome.IsReady());
        EXPECT_TRUE(outcome.lasting) << outcome.reason;
        EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
        if (std::string(c.name) == "missing library") {
            EXPECT_NE(outcome.reason.find("libtvx-test-missing.so: cannot open shared object file"),
                      std::string::npos)
                << outcome.reason;
        }
        // One line, with the reason.
        const std::string log = tvxtest::ReadFile(LogFilePath());
        const size_t line = log.find("[TarvoLib] Engine start failed (" + tvxtest::EnginePath() +
                                     "): " + outcome.reason);
        EXPECT_NE(line, std::string::npos) << log;
        EXPECT_EQ(log.find("[TarvoLib] Engine start failed", line + 1), std::string::npos) << log;
    }
}

}  // namespace

#ifdef TVX_ENGINE_PROGRAM
namespace {

// The real engine, whose link port another program holds: it cannot listen,
// ends before it is ready, and that is a failed start with the engine's own
// words, not a ready engine. (Another start may find the port free: it is not
// lasting.)
TEST_F(RunEngineTest, AnEngineThatCannotListenIsAFailedStart) {
    const int held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(held, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(held, 1), 0);
    ASSERT_EQ(getsockname(held, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    setenv("TVX_ENGINE_LINK_PORT", port.c_str(), 1);
    setenv("TVX_ENGINE_IDLE_MS", "1000", 1);
    ASSERT_TRUE(tvxtest::MakeDirs(tvxtest::EngineFolder()));
    ASSERT_TRUE(tvxtest::WriteFile(tvxtest::EnginePath(), tvxtest::ReadFile(TVX_ENGINE_PROGRAM)));
    platform::StartOutcome outcome;
    EXPECT_EQ(CBinaryExecute_V3::Instance().RunEngine(&outcome), 0);
    unsetenv("TVX_ENGINE_LINK_PORT");
    unsetenv("TVX_ENGINE_IDLE_MS");
    close(held);
    EXPECT_FALSE(outcome.lasting);
    EXPECT_NE(outcome.reason.find("exited with status 1 before it was ready: vrDownload: cannot "
                                  "listen on 127.0.0.1:" +
                                  port + ": Address already in use"),
              std::string::npos)
        << outcome.reason;
}

}  // namespace
#endif
