// The engine path end to end: the library, driven through its entry functions,
// installs the real stand-in engine from update content that nginx serves,
// starts it, and runs jobs through it, falling back to the direct path when
// the engine gives a job up or keeps dying. Each test runs in a network
// namespace of its own, so the engine's fixed port never collides.
#if defined(TVX_ENGINE_PROGRAM) && defined(TVX_HASHLIST_TOOL)

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LibraryHarness.h"
#include "UpdateTestSupport.h"
#include "library/common/Log.h"
#include "library/engine/EnginePathConfig.h"
#include "library/update/EngineFileRecord.h"
#include "library/update/ReadFileVersion.h"
#include "platform/FileSystem.h"
#include "support/NginxServer.h"
#include "support/PrivateNetwork.h"
#include "support/TempDir.h"
#include "util/Sha256.h"

namespace {

using namespace std::chrono_literals;
using namespace tarvo;
using tvxtest::RecordingHost;

struct TestFile {
    std::string name;
    uint64_t size;
};

// Bounded polling of the test's own observations (never of the library).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The engine processes started from this test's engine folder.
std::vector<pid_t> EnginePids() {
    std::vector<pid_t> pids;
    const std::string engine = tvxtest::EnginePath();
    DIR* proc = opendir("/proc");
    if (!proc)
        return pids;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        char target[4096];
        const std::string link = "/proc/" + std::string(entry->d_name) + "/exe";
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == engine)
            pids.push_back(pid);
    }
    closedir(proc);
    return pids;
}

class EnginePathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Without a namespace of its own the engine path cannot be checked at
        // all: that is a failure, never a quiet pass.
        std::string why;
        ASSERT_TRUE(tvxtest::EnterPrivateNetwork(why)) << why;
        SetEnginePathEnabled(true);
    }
    void TearDown() override {
        TarvoLib_Finalize();
        for (pid_t pid : EnginePids())
            kill(pid, SIGKILL);
        SetEnginePathEnabled(false);
    }

    // nginx (in the namespace) with the update content written from the
    // stand-in engine; the library's manifest URL points at it.
    void StartServer(const std::string& serverConfig = "", bool updateContent = true,
                     const std::string& engine = TVX_ENGINE_PROGRAM) {
        nginx_ = std::make_unique<tvxtest::NginxServer>(tvxtest::NginxServer::Options{
            serverConfig, tvxtest::NginxServer::Certificate::kTrusted});
        ASSERT_TRUE(nginx_->Started()) << nginx_->Error();
        if (updateContent) {
            ASSERT_EQ(tvxtest::Shell(TVX_SOURCE_ROOT "/tools/update_content/make-update-content.sh"
                                                     " --engine " +
                                     tvxtest::Quoted(engine) + " --out " +
                                     tvxtest::Quoted(nginx_->DocumentRoot()) + " --base-url " +
                                     nginx_->HttpUrl("") +
                                     // This machine has the engine's libraries; the
                                     // package test runs the bundle on a clean root.
                                     " --hashlist " TVX_HASHLIST_TOOL " --no-libraries"
                                     " --sign-key " TVX_TEST_PUBLISHER_KEY
                                     " --sign-tool " TVX_SIGN_TOOL " >/dev/null"),
                      0);
        }
        SetUpdateManifestUrl(nginx_->HttpUrl(kUpdateManifestPath));
    }
    void Initialize() {
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
        TarvoLib_SetEngineText("halvard2");
    }
    // Content files on the server, and a job of them (sizes known) into dest_.
    JobHandle MakeJob(const std::vector<TestFile>& files) {
        JobHandle job = 0;
        EXPECT_EQ(TarvoLib_CreateJob(&job, "k", "halvard2"), result::kSuccess);
        TarvoLib_SetJobFlag(job);
        uint32_t seed = 7;
        for (const TestFile& f : files) {
            EXPECT_TRUE(nginx_->WritePatternFile("game/" + f.name, f.size, ++seed));
            const std::string url = nginx_->HttpUrl("/game/" + f.name);
            const int64_t size = static_cast<int64_t>(f.size);
            EXPECT_EQ(
                TarvoLib_AddFile(job, url.c_str(), dest_.c_str(), nullptr,
                                 static_cast<uint32_t>(size), static_cast<int32_t>(size >> 32), 0),
                result::kSuccess);
        }
        return job;
    }
    // Hands the job each served file's signed digest (as the launcher does
    // from the release metadata), then flips one byte of the served copy of
    // the file named tampered, if any.
    void SignFiles(JobHandle job, const std::vector<TestFile>& files,
                   const std::string& tampered = "") {
        for (const TestFile& f : files) {
            std::string bytes = tvxtest::ReadFile(nginx_->PathOf("game/" + f.name));
            const int64_t size = static_cast<int64_t>(bytes.size());
            EXPECT_EQ(TarvoLib_SetFileDigest(job, nginx_->HttpUrl("/game/" + f.name).c_str(),
                                             Sha256Hex(CSha256::Of(bytes)).c_str(),
                                             static_cast<uint32_t>(size),
                                             static_cast<int32_t>(size >> 32)),
                      result::kSuccess);
            if (f.name == tampered) {
                bytes[bytes.size() / 2] ^= 0x01;
                EXPECT_TRUE(nginx_->WriteFile("game/" + f.name, bytes));
            }
        }
    }
    // Waits for the job's completion, answering every resume question with
    // "resume"; false on time-out.
    bool WaitForCompletion(JobHandle job, std::chrono::milliseconds timeout = 40s) {
        return WaitUntil(
            [&] {
                AnswerQuestions(job);
                return Seen(event::kJobCompleted) > 0;
            },
            timeout);
    }
    void AnswerQuestions(JobHandle job) {
        const size_t asked = Seen(event::kResumeQuestion);
        for (; answered_ < asked; ++answered_)
            EXPECT_EQ(TarvoLib_AnswerResume(job, 1, 0), result::kSuccess);
    }
    size_t Seen(int32_t code) const {
        const std::vector<int32_t> codes = host_.CallbackCodes();
        return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
    }
    void ExpectIdentical(const std::vector<TestFile>& files) {
        for (const TestFile& f : files)
            EXPECT_TRUE(tvxtest::ReadFile(dest_ + f.name) ==
                        tvxtest::ReadFile(nginx_->PathOf("game/" + f.name)))
                << f.name;
    }
    static std::string ServiceLog() { return tvxtest::ReadFile(LogFilePath()); }
    static std::string EngineLog() {
        return tvxtest::ReadFile(tvxtest::EngineFolder() + "vrDownload.log");
    }

    std::unique_ptr<tvxtest::NginxServer> nginx_;
    tvxtest::TempDir destDir_{"engine-dest-"};
    std::string dest_ = destDir_.Path() + "game/";
    RecordingHost host_;
    size_t answered_ = 0;
};

constexpr char kDirectBegin[] = "[TarvoLib] CPlatFormDownloader Begin";

TEST_F(EnginePathTest, FirstStartInstallsTheEngineAndTheJobRunsThroughIt) {
    // Slow enough for the one-second progress events to be seen.
    StartServer("limit_rate 3m;");
    ASSERT_FALSE(platform::PathExists(tvxtest::EnginePath()));
    Initialize();
    const std::vector<TestFile> files = {{"a.bin", 6 << 20}, {"b.bin", 1}, {"c.bin", 700001}};
    const JobHandle job = MakeJob(files);
    // Started before the engine is connected: it waits, then goes in full.
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_TRUE(WaitForCompletion(job)) << ::testing::PrintToString(host_.CallbackCodes());

    ExpectIdentical(files);
    EXPECT_EQ(ReadFileVersion(tvxtest::EnginePath()), TVX_ENGINE_VERSION_TEXT);
    const std::string access = nginx_->AccessLog();
    for (const char* request :
         {"GET /ActiveX/update/QGM_updater.xml ", "GET /ActiveX/update/vrDownload.7z.hash ",
          "GET /ActiveX/update/vrDownload.7z "})
        EXPECT_NE(access.find(request), std::string::npos) << request;
    EXPECT_GE(Seen(event::kUpdateFile), 1u);
    EXPECT_EQ(Seen(event::kEngineReady), 1u);
    EXPECT_EQ(Seen(event::kJobSize), 1u);
    EXPECT_GE(Seen(event::kJobProgress), 1u);
    EXPECT_EQ(Seen(event::kFileCompleted), files.size());
    EXPECT_EQ(Seen(event::kJobCompleted), 1u);
    EXPECT_EQ(Seen(event::kEngineFailed), 0u);

    JobSizeRecord size{};
    JobResultRecord result{};
    TarvoLib_GetJobSize(job, &size);
    TarvoLib_GetJobResult(job, &result);
    EXPECT_EQ(result.fileCount, 3);
    EXPECT_EQ(result.valueA, 0);
    std::vector<std::string> completed;
    for (size_t i = 0; i <= files.size(); ++i) {
        CompletedFileRecord record{};
        ASSERT_EQ(TarvoLib_GetCompletedFile(job, &record), result::kSuccess);
        if (record.sequence == 0)
            break;
        completed.emplace_back(record.text);
    }
    ASSERT_EQ(completed.size(), files.size());
    // The engine's records name the local path after the comma.
    EXPECT_NE(completed[0].find("," + dest_), std::string::npos) << completed[0];

    // The engine got the host's text; the direct path never ran.
    EXPECT_NE(EngineLog().find("engine text: halvard2"), std::string::npos) << EngineLog();
    EXPECT_EQ(ServiceLog().find(kDirectBegin), std::string::npos) << ServiceLog();
    EXPECT_NE(ServiceLog().find("[TarvoLib] Patch Success"), std::string::npos) << ServiceLog();
}

TEST_F(EnginePathTest, SignedFilesAreVerifiedOffTheLoopAsTheEngineCompletesThem) {
    StartServer();
    Initialize();
    const std::vector<TestFile> files = {{"v1.bin", 3 << 20}, {"v2.bin", 1 << 20}, {"v3.bin", 5}};
    const JobHandle job = MakeJob(files);
    SignFiles(job, files);
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_TRUE(WaitForCompletion(job)) << ::testing::PrintToString(host_.CallbackCodes());
    ExpectIdentical(files);
    EXPECT_EQ(Seen(event::kFileCompleted), files.size());
    const std::string log = ServiceLog();
    EXPECT_EQ(Count(log, "[TarvoLib] Verified : "), files.size()) << log;
    EXPECT_EQ(log.find(kDirectBegin), std::string::npos) << log;
}

TEST_F(EnginePathTest, ASignedFileThatDoesNotMatchIsFetchedOnceMoreThenTheJobFails) {
    StartServer();
    Initialize();
    const std::vector<TestFile> files = {{"t1.bin", 2 << 20}, {"t2.bin", 1 << 20}};
    const JobHandle job = MakeJob(files);
    SignFiles(job, files, "t2.bin");
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    std::vector<int32_t> messages;
    ASSERT_TRUE(WaitUntil(
        [&] {
            AnswerQuestions(job);
            for (int32_t code : tvxtest::JobMessageCodes(job))
                messages.push_back(code);
            return std::count(messages.begin(), messages.end(), message::kDownloadFailed) > 0;
        },
        40s))
        << ::testing::PrintToString(host_.CallbackCodes());
    const std::string log = ServiceLog();
    const std::string url = nginx_->HttpUrl("/game/t2.bin");
    // Once from the engine, once more directly; never counted as complete.
    EXPECT_EQ(Count(log, "[TarvoLib] Verify Failed, Retry : " + url), 1u) << log;
    EXPECT_EQ(Count(log, "[TarvoLib] Verify Failed : " + url), 1u) << log;
    EXPECT_EQ(Count(log, "[TarvoLib] Verified : " + nginx_->HttpUrl("/game/t1.bin")), 1u) << log;
    EXPECT_NE(log.find(kDirectBegin), std::string::npos) << log;
    EXPECT_EQ(Seen(event::kJobCompleted), 0u);
    EXPECT_FALSE(platform::PathExists(dest_ + "t2.bin"));
    EXPECT_TRUE(tvxtest::ReadFile(dest_ + "t1.bin") ==
                tvxtest::ReadFile(nginx_->PathOf("game/t1.bin")));
}

TEST_F(EnginePathTest, TheResumeQuestionReachesTheHostAndTheAnswerResumes) {
    StartServer();
    const std::vector<TestFile> files = {{"r.bin", 3 << 20}};
    Initialize();
    const JobHandle job = MakeJob(files);
    // Half of the file is already there, as a stopped download leaves it.
    const std::string whole = tvxtest::ReadFile(nginx_->PathOf("game/r.bin"));
    ASSERT_TRUE(tvxtest::WriteFile(dest_ + "r.bin", whole.substr(0, whole.size() / 2)));
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_TRUE(WaitUntil([&] { return Seen(event::kResumeQuestion) > 0; }, 30s))
        << ::testing::PrintToString(host_.CallbackCodes());
    EXPECT_EQ(Seen(event::kJobCompleted), 0u);
    ASSERT_TRUE(WaitForCompletion(job));
    ExpectIdentical(files);
    nginx_->Stop();
    EXPECT_NE(nginx_->AccessLog().find("GET /game/r.bin HTTP/1.1\" 206 "), std::string::npos)
        << nginx_->AccessLog();
}

TEST_F(EnginePathTest, AnEngineKilledSixTimesEndsThePathAndTheJobCompletesDirectly) {
    StartServer("limit_rate 2m;");
    const std::vector<TestFile> files = {{"k1.bin", 6 << 20}, {"k2.bin", 2 << 20}};
    Initialize();
    const JobHandle job = MakeJob(files);
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    for (size_t kill = 1; kill <= 6; ++kill) {
        SCOPED_TRACE(kill);
        // Each engine is killed right after the library connected to it and
        // sent the job again.
        ASSERT_TRUE(WaitUntil(
            [&] {
                AnswerQuestions(job);
                return Count(EngineLog(), "client connected") >= kill &&
                       Count(EngineLog(), "(halvard2): ") >= kill && !EnginePids().empty();
            },
            15s))
            << EngineLog();
        for (pid_t pid : EnginePids())
            ::kill(pid, SIGKILL);
        // The library notices the loss and may start the next engine at once,
        // so the process list need never be empty: wait on the notice itself.
        ASSERT_TRUE(
            WaitUntil([&] { return Count(ServiceLog(), "[TarvoLib] localClosed()") >= kill; }, 15s))
            << ServiceLog();
    }
    ASSERT_TRUE(WaitForCompletion(job, 40s)) << ::testing::PrintToString(host_.CallbackCodes());
    ExpectIdentical(files);
    const std::string log = ServiceLog();
    EXPECT_EQ(Count(log, "[TarvoLib] localClosed()"), 6u) << log;
    EXPECT_NE(log.find("[TarvoLib] CEngineDownloader MaxTry Over"), std::string::npos) << log;
    EXPECT_NE(log.find(kDirectBegin), std::string::npos) << log;
    // No seventh engine was started.
    EXPECT_TRUE(EnginePids().empty());
}

TEST_F(EnginePathTest, AJobTheEngineGivesUpGetsMessage518AndCompletesDirectly) {
    // The content server answers the library's client only, so every
    // transfer of the engine fails and it finishes the job with its failure flag.
    StartServer("location /game/ { if ($http_user_agent != \"NorvikClient\") { return 403; } }");
    const std::vector<TestFile> files = {{"g1.bin", 1 << 20}, {"g2.bin", 4097}};
    Initialize();
    const JobHandle job = MakeJob(files);
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_TRUE(WaitForCompletion(job)) << ::testing::PrintToString(host_.CallbackCodes());
    ExpectIdentical(files);
    const std::vector<int32_t> messages = tvxtest::JobMessageCodes(job);
    EXPECT_NE(std::find(messages.begin(), messages.end(), message::kEngineGaveUp), messages.end())
        << ::testing::PrintToString(messages);
    EXPECT_NE(ServiceLog().find(kDirectBegin), std::string::npos);
    EXPECT_NE(nginx_->AccessLog().find("\" 403 "), std::string::npos);
}

TEST_F(EnginePathTest, WithTheUpdateServerDownJobsStillComplete) {
    for (const bool installed : {true, false}) {
        SCOPED_TRACE(installed ? "engine installed before" : "no engine");
        StartServer("", false);
        // Nothing listens on the update server's port.
        uint16_t deadPort = 0;
        {
            tvxtest::NginxServer gone;
            ASSERT_TRUE(gone.Started());
            deadPort = gone.HttpPort();
        }
        SetUpdateManifestUrl("http://127.0.0.1:" + std::to_string(deadPort) + kUpdateManifestPath);
        ASSERT_EQ(tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder())), 0);
        if (installed) {
            ASSERT_TRUE(tvxtest::MakeDirs(tvxtest::EngineFolder()));
            ASSERT_TRUE(
                tvxtest::WriteFile(tvxtest::EnginePath(), tvxtest::ReadFile(TVX_ENGINE_PROGRAM)));
            // As a signed install leaves it: only such an engine is started.
            ASSERT_TRUE(RecordEngineFile(tvxtest::EnginePath()));
        }
        host_.Clear();
        answered_ = 0;
        Initialize();
        const std::vector<TestFile> files = {{installed ? "d1.bin" : "d2.bin", 2 << 20}};
        const JobHandle job = MakeJob(files);
        ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
        ASSERT_TRUE(WaitForCompletion(job)) << ::testing::PrintToString(host_.CallbackCodes());
        ExpectIdentical(files);
        const std::string log = ServiceLog();
        EXPECT_NE(log.find("[TarvoLib] Patch Fail"), std::string::npos) << log;
        EXPECT_EQ(log.find(kDirectBegin) == std::string::npos, installed) << log;
        EXPECT_EQ(log.find("MaxTry Over") == std::string::npos, installed) << log;
        TarvoLib_Finalize();
        for (pid_t pid : EnginePids())
            kill(pid, SIGKILL);
        nginx_.reset();
    }
}

TEST_F(EnginePathTest, AnEngineThatCannotStartIsToldOnceAndJobsGoDirectAtOnce) {
    // The real engine with an interpreter that is nowhere; and an engine that
    // needs a library this machine lacks, as the engine of a machine without
    // the engine's libraries does.
    std::string badInterpreter = tvxtest::ReadFile(TVX_ENGINE_PROGRAM);
    const size_t at = badInterpreter.find("/lib64/ld-linux-");
    ASSERT_NE(at, std::string::npos);
    badInterpreter.replace(at, 16, "/lib64/ld-nowhr-");
    const std::string badFile = destDir_.Path() + "bad-interpreter.exe";
    ASSERT_TRUE(tvxtest::WriteFile(badFile, badInterpreter));
    struct Case {
        std::string engine;
        const char* reason;
    };
    for (const Case& c : {Case{badFile, "cannot be executed: No such file or directory"},
                          Case{TVX_TEST_ENGINE_NEEDS_LIBRARY,
                               "error while loading shared libraries: libtvx-test-missing.so: "}}) {
        SCOPED_TRACE(c.engine);
        ASSERT_EQ(tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder())), 0);
        host_.Clear();
        answered_ = 0;
        ResetLogFile();
        StartServer("", true, c.engine);
        Initialize();
        const std::vector<TestFile> files = {{"n.bin", 1 << 20}};
        const JobHandle job = MakeJob(files);
        ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
        ASSERT_TRUE(WaitForCompletion(job)) << ::testing::PrintToString(host_.CallbackCodes());
        ExpectIdentical(files);
        const std::string log = ServiceLog();
        // One line with the reason, one launch, no connection, no success.
        EXPECT_EQ(Count(log, "[TarvoLib] Engine start failed"), 1u) << log;
        EXPECT_EQ(Count(log, "[TarvoLib] Begin Update"), 1u) << log;
        EXPECT_LE(Count(log, "[TarvoLib] Execute OK"), 1u) << log;
        EXPECT_NE(log.find("[TarvoLib] Patch Fail"), std::string::npos) << log;
        EXPECT_EQ(log.find("[TarvoLib] Patch Success"), std::string::npos) << log;
        EXPECT_EQ(log.find("localClosed()"), std::string::npos) << log;
        EXPECT_EQ(log.find("MaxTry Over"), std::string::npos) << log;
        EXPECT_NE(log.find(kDirectBegin), std::string::npos) << log;
        EXPECT_EQ(Seen(event::kEngineFailed), 1u);
        TarvoLib_Finalize();
        nginx_.reset();
    }
}

}  // namespace

#endif
