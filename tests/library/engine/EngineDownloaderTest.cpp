// The engine downloader against a scripted engine on the link: what the
// library sends for a job, and how each engine report becomes a job message,
// a status record or a move to the direct path. The engine's preparation
// (update check and start) is stood in for by calling the downloader's
// launcher interface under the engine lock, as the launcher would; the update
// server meanwhile hangs, so the real launcher never reports first.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LibraryHarness.h"
#include "ScriptedEngine.h"
#include "UpdateTestSupport.h"
#include "engine/link/EngineMessages.h"
#include "engine/link/WireFormat.h"
#include "library/engine/CEngineDownloader.h"
#include "library/engine/EnginePathConfig.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "platform/Clock.h"
#include "platform/NetworkState.h"
#include "support/PrivateNetwork.h"
#include "support/TempDir.h"

namespace {

using namespace tarvo;
using namespace std::chrono_literals;
using tvxtest::LinkFrame;

std::atomic<bool> gNetworkUp{true};
bool NetworkProbe() {
    return gNetworkUp;
}

uint32_t U32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
    return v;
}

std::string EngineState(uint32_t value) {
    return engine::wire::FrameWriter(nwCDNLocal::kCmdEngineState).U32(value).Finish();
}

class EngineDownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(tvxtest::EnterPrivateNetwork(why)) << why;
        // Both listen inside the namespace.
        engine_ = std::make_unique<tvxtest::ScriptedEngine>();
        updateServer_ = std::make_unique<tvxtest::SilentServer>();
        ASSERT_TRUE(engine_->Listening());
        gNetworkUp = true;
        platform::SetInternetProbe(&NetworkProbe);
        // Should the hanging update ever give up, the installed stand-in
        // starts and reports ready, which changes nothing here.
        ASSERT_TRUE(tvxtest::InstallTestEngine());
        mark_ = dir_.Path() + "engine-mark";
        setenv("TVX_TEST_ENGINE_MARK", mark_.c_str(), 1);
        setenv("TVX_TEST_ENGINE_LINGER_MS", "120000", 1);
        SetUpdateManifestUrl("http://127.0.0.1:" + std::to_string(updateServer_->Port()) +
                             kUpdateManifestPath);
        SetEnginePathEnabled(true);
        ASSERT_EQ(TarvoLib_Initialize(&host_, &tvxtest::RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
        ASSERT_NE(Engine(), nullptr);
    }
    void TearDown() override {
        TarvoLib_Finalize();
        SetEnginePathEnabled(false);
        platform::SetInternetProbe(nullptr);
        const int pid = std::atoi(tvxtest::ReadFile(mark_).c_str());
        if (pid > 0)
            kill(pid, SIGKILL);
    }

    CJobManager& Manager() { return *CDownloadLibThread::Instance()->Manager(); }
    CEngineDownloader* Engine() {
        return dynamic_cast<CEngineDownloader*>(Manager().EngineDownloader());
    }
    // The launcher's report, made under the engine lock as the worker makes it.
    template <typename Call>
    void AsLauncher(Call call) {
        std::lock_guard guard(Manager().Lock());
        ILauncherEventListener& launcher = *Engine();
        call(launcher);
    }
    // The engine is ready and the link is up: the library connected and sent
    // its engine text first.
    void Connect() {
        AsLauncher([](ILauncherEventListener& l) { l.OnLauncherReady(); });
        ASSERT_TRUE(engine_->Accept());
        LinkFrame frame;
        ASSERT_TRUE(engine_->Read(frame));
        EXPECT_EQ(frame.command, nwCDNLocal::kCmdEngineText);
    }
    // Everything the engine sent before has been handled once this returns:
    // the state report comes back as event 530 after the reports before it.
    void Barrier() {
        const size_t before = host_.Count(event::kEngineState);
        ASSERT_TRUE(engine_->Send(EngineState(1)));
        ASSERT_TRUE(host_.WaitForCount(event::kEngineState, before + 1));
    }
    JobHandle MakeJob(const std::vector<std::string>& urls) {
        JobHandle job = 0;
        EXPECT_EQ(TarvoLib_CreateJob(&job, "k", "halvard2"), result::kSuccess);
        for (const std::string& url : urls)
            EXPECT_EQ(TarvoLib_AddFile(job, url.c_str(), folder_.c_str(), nullptr, 1000, 0, 1),
                      result::kSuccess);
        return job;
    }
    JobHandle MakeJob() {
        return MakeJob({"http://127.0.0.1:9/game/a.bin", "http://127.0.0.1:9/game/b.bin"});
    }
    // Starts the job on a live link and reads its list; the job's serial.
    uint32_t StartAndReadList(JobHandle job) {
        EXPECT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
        LinkFrame frame;
        EXPECT_TRUE(engine_->ReadUntil(nwCDNLocal::kCmdJobList, frame));
        return frame.payload.size() >= 4 ? U32At(frame.payload, 0) : 0xFFFFFFFFu;
    }

    std::unique_ptr<tvxtest::ScriptedEngine> engine_;
    std::unique_ptr<tvxtest::SilentServer> updateServer_;
    tvxtest::TempDir dir_{"engine-downloader-"};
    std::string folder_ = dir_.Path() + "game/";
    std::string mark_;
    tvxtest::RecordingHost host_;
};

TEST_F(EngineDownloaderTest, AJobHeldWhileOfflineIsSentWhenTheNetworkReturns) {
    const JobHandle first = MakeJob();
    const JobHandle second = MakeJob({"http://127.0.0.1:9/game/c.bin"});
    // Started before any engine: both wait.
    ASSERT_EQ(TarvoLib_StartJob2(first, 1), result::kSuccess);
    ASSERT_EQ(TarvoLib_StartJob2(second, 1), result::kSuccess);
    // The offline updater tells every held job.
    AsLauncher([](ILauncherEventListener& l) { l.OnLauncherOffline(); });
    EXPECT_EQ(tvxtest::JobMessageCodes(first), std::vector<int32_t>{message::kNetworkDown});
    EXPECT_EQ(tvxtest::JobMessageCodes(second), std::vector<int32_t>{message::kNetworkDown});

    // The engine is ready, and the network goes down before the connection
    // completes: the connection finds the downloader offline and sends nothing.
    AsLauncher([this](ILauncherEventListener& l) {
        l.OnLauncherReady();
        gNetworkUp = false;
        Engine()->RunTick();
    });
    ASSERT_TRUE(engine_->Accept());
    Barrier();
    const size_t messagesBefore = host_.Count(event::kJobMessage);

    // Back again: the next tick says so and sends both jobs, in order.
    gNetworkUp = true;
    LinkFrame frame;
    ASSERT_TRUE(engine_->ReadUntil(nwCDNLocal::kCmdJobList, frame));
    EXPECT_EQ(host_.Count(event::kJobMessage), messagesBefore + 1);
    EXPECT_EQ(U32At(frame.payload, 0), static_cast<uint32_t>(Manager().FindJob(first)->Serial()));
    ASSERT_TRUE(engine_->ReadUntil(nwCDNLocal::kCmdJobList, frame));
    EXPECT_EQ(U32At(frame.payload, 0), static_cast<uint32_t>(Manager().FindJob(second)->Serial()));
    const std::vector<int32_t> firstMessages = tvxtest::JobMessageCodes(first);
    ASSERT_FALSE(firstMessages.empty());
    EXPECT_EQ(firstMessages.back(), message::kNetworkBack);
}

TEST_F(EngineDownloaderTest, AListOf130047BytesGoesInOneMessageAndOneMoreInPieces) {
    Connect();
    // Four files: 41 + 4 * 531 + the URLs' bytes.
    const auto urls = [](size_t total) {
        std::vector<std::string> list;
        for (size_t i = 0; i < 4; ++i) {
            const std::string name = "/f" + std::to_string(i) + ".bin";
            const std::string head = "http://127.0.0.1:9/";
            const size_t length = total / 4 + (i < total % 4 ? 1 : 0);
            list.push_back(head + std::string(length - head.size() - name.size(), 'p') + name);
        }
        return list;
    };
    const size_t fixed = nwCDNLocal::kListHeaderSize + 4 * nwCDNLocal::kListEntryFixedSize;
    const struct {
        const char* name;
        size_t listSize;
        std::vector<uint16_t> commands;
    } cases[] = {
        {"at the limit", nwCDNLocal::kMaxOneMessageList, {nwCDNLocal::kCmdJobList}},
        {"one byte over",
         nwCDNLocal::kMaxOneMessageList + 1,
         {nwCDNLocal::kCmdJobListBegin, nwCDNLocal::kCmdJobFile, nwCDNLocal::kCmdJobFile,
          nwCDNLocal::kCmdJobFile, nwCDNLocal::kCmdJobFile, nwCDNLocal::kCmdJobListEnd}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const JobHandle job = MakeJob(urls(c.listSize - fixed));
        TarvoLib_SetJobFlag(job);
        ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
        // Kind, mode and flag come first, whatever the list's size.
        std::vector<uint16_t> seen;
        LinkFrame frame;
        for (const uint16_t command :
             {nwCDNLocal::kCmdJobKind, nwCDNLocal::kCmdJobMode, nwCDNLocal::kCmdJobFlag}) {
            ASSERT_TRUE(engine_->Read(frame));
            EXPECT_EQ(frame.command, command);
        }
        while (seen.size() < c.commands.size()) {
            ASSERT_TRUE(engine_->Read(frame));
            seen.push_back(frame.command);
            if (frame.command == nwCDNLocal::kCmdJobList) {
                EXPECT_EQ(frame.category, nwCDNLocal::kCategoryJobList);
            }
        }
        EXPECT_EQ(seen, c.commands);
    }
}

TEST_F(EngineDownloaderTest, EngineReportsBecomeJobMessages) {
    Connect();
    const JobHandle job = MakeJob();
    const uint32_t serial = StartAndReadList(job);
    const uint32_t key = 41;
    ASSERT_TRUE(engine_->Send(engine::link::BuildJobAccepted(serial, key, 2, 2000)));
    const struct {
        const char* name;
        std::string report;
        std::vector<int32_t> codes;
    } cases[] = {
        {"too little disk space",
         engine::link::BuildEngineNotice(serial, key, 1, "disk"),
         {message::kDiskFull}},
        {"another notice", engine::link::BuildEngineNotice(serial, key, 2, "other"), {}},
        {"a notice for another job", engine::link::BuildEngineNotice(serial + 1, key, 1, ""), {}},
        {"network down", engine::link::BuildNetworkChange(false), {message::kNetworkDown}},
        {"network up", engine::link::BuildNetworkChange(true), {message::kNetworkBack}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(engine_->Send(c.report));
        Barrier();
        EXPECT_EQ(tvxtest::JobMessageCodes(job), c.codes);
    }

    // A job error ends the engine's part: message 517, and the job is let go,
    // so that the host can start it again (and it is sent again).
    const size_t before = host_.Count(event::kJobMessage);
    ASSERT_TRUE(engine_->Send(engine::link::BuildJobError(serial, "no such file")));
    ASSERT_TRUE(host_.WaitForCount(event::kJobMessage, before + 1));
    EXPECT_EQ(tvxtest::JobMessageCodes(job), std::vector<int32_t>{message::kDownloadFailed});
    EXPECT_EQ(StartAndReadList(job), serial);
}

TEST_F(EngineDownloaderTest, ProgressBecomesTheStatusRecord) {
    Connect();
    const JobHandle job = MakeJob();
    const uint32_t serial = StartAndReadList(job);
    const uint32_t key = 7;
    ASSERT_TRUE(engine_->Send(engine::link::BuildJobAccepted(serial, key, 2, 1000)));
    const struct {
        uint32_t fileIndex;
        int32_t currentIndex;
        const char* currentName;
    } cases[] = {
        {0, 0, "a.bin"},
        {1, 1, "b.bin"},
        // An index past the job's files names its last one.
        {9, 1, "b.bin"},
    };
    int64_t stamp = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileIndex);
        engine::link::ProgressReport report;
        report.serial = serial;
        report.engineKey = key;
        report.fileCount = 2;
        report.filesDone = c.fileIndex;
        report.total = 1000;
        report.done = 250;
        report.speed = 50;
        report.timeStamp = ++stamp;
        report.entries = {{"ignored", 400, 100, 30}};
        ASSERT_TRUE(engine_->Send(engine::link::BuildJobProgress(report)));
        Barrier();
        JobStatus status{};
        ASSERT_EQ(TarvoLib_GetJobProgress(job, &status), result::kSuccess);
        EXPECT_EQ(status.total, 1000);
        EXPECT_EQ(status.downloaded, 250);
        EXPECT_EQ(status.fileCount, 2);
        EXPECT_EQ(status.filesCompleted, static_cast<int32_t>(c.fileIndex));
        EXPECT_EQ(status.percent, 25);
        EXPECT_EQ(status.elapsed, stamp);
        EXPECT_EQ(status.speed, 50);
        EXPECT_EQ(status.remaining, 750 / 50);
        EXPECT_EQ(status.currentSize, 400);
        EXPECT_EQ(status.currentDone, 100);
        EXPECT_EQ(status.currentPercent, 25);
        EXPECT_EQ(status.currentSpeed, 30);
        EXPECT_EQ(status.currentRemaining, 300 / 30);
        EXPECT_EQ(status.currentIndex, c.currentIndex);
        EXPECT_STREQ(status.currentName, c.currentName);
    }
    // The host hears of it through the one-second progress event.
    EXPECT_TRUE(host_.WaitForCount(event::kJobProgress, 1));
}

TEST_F(EngineDownloaderTest, AnEngineThatCannotBeUsedSendsTheJobsToTheDirectPath) {
    const struct {
        const char* name;
        void (*report)(ILauncherEventListener&);
        int32_t event;
    } cases[] = {
        {"the launcher failed", [](ILauncherEventListener& l) { l.OnLauncherFailed(); },
         event::kEngineFailed},
        // Update results 5 and 7 report the engine folder unusable.
        {"the engine folder is unusable",
         [](ILauncherEventListener& l) { l.OnLauncherPathFailed(1); }, event::kEnginePathFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!Engine()) {
            // The previous case dropped the engine path: a fresh library.
            TarvoLib_Finalize();
            host_.Clear();
            ASSERT_EQ(TarvoLib_Initialize(&host_, &tvxtest::RecordingHost::Callback,
                                          reinterpret_cast<uintptr_t>(&host_)),
                      result::kSuccess);
        }
        const JobHandle job = MakeJob();
        ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
        CJobDownloader* direct = Manager().DirectDownloader();
        {
            std::lock_guard guard(Manager().Lock());
            EXPECT_FALSE(direct->Holds(Manager().FindJob(job)));
        }
        AsLauncher(c.report);
        EXPECT_EQ(host_.Count(c.event), 1u);
        std::lock_guard guard(Manager().Lock());
        EXPECT_EQ(Manager().EngineDownloader(), nullptr);
        EXPECT_TRUE(direct->Holds(Manager().FindJob(job)));
    }
}

// The launch count over link losses, on a clock of the test's own. Here the
// launcher really prepares the engine each time: the update server refuses,
// the installed stand-in starts and reports ready, and the library connects.
class EngineRelaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(tvxtest::EnterPrivateNetwork(why)) << why;
        engine_ = std::make_unique<tvxtest::ScriptedEngine>();
        ASSERT_TRUE(engine_->Listening());
        uint16_t refusing = 0;
        {
            // A port that was just free: nothing listens on it.
            tvxtest::SilentServer gone;
            refusing = gone.Port();
        }
        SetUpdateManifestUrl("http://127.0.0.1:" + std::to_string(refusing) + kUpdateManifestPath);
        ASSERT_TRUE(tvxtest::InstallTestEngine());
        // Every launch starts a stand-in; each ends by itself soon after.
        setenv("TVX_TEST_ENGINE_LINGER_MS", "15000", 1);
        unsetenv("TVX_TEST_ENGINE_MARK");
        SetEnginePathEnabled(true);
        ASSERT_EQ(TarvoLib_Initialize(&host_, nullptr, 0), result::kSuccess);
    }
    void TearDown() override {
        TarvoLib_Finalize();
        SetEnginePathEnabled(false);
    }
    int32_t LaunchCount() {
        CJobManager& manager = *CDownloadLibThread::Instance()->Manager();
        std::lock_guard guard(manager.Lock());
        auto* engine = dynamic_cast<CEngineDownloader*>(manager.EngineDownloader());
        return engine ? engine->LaunchCount() : -1;
    }

    // The library's connection, once the library took it as its engine's: it
    // notes when the link began before its first message goes out, so the
    // clock may move only after that message arrived.
    bool AcceptLink() {
        tvxtest::LinkFrame frame;
        return engine_->Accept() && engine_->ReadUntil(nwCDNLocal::kCmdEngineText, frame);
    }

    platform::ScopedManualClock clock_;
    std::unique_ptr<tvxtest::ScriptedEngine> engine_;
    tvxtest::RecordingHost host_;
};

TEST_F(EngineRelaunchTest, ALinkThatLastedOver30SecondsResetsTheLaunchCount) {
    ASSERT_TRUE(AcceptLink());
    EXPECT_EQ(LaunchCount(), 1);
    const struct {
        int64_t linkMs;
        int32_t count;
    } cases[] = {
        {30000, 2},  // not over 30 s: one more launch
        {31000, 1},  // over: counting starts again with this launch
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.linkMs);
        clock_->Advance(c.linkMs);
        engine_->CloseLink();
        // The next connection is the relaunch's.
        ASSERT_TRUE(AcceptLink());
        EXPECT_EQ(LaunchCount(), c.count);
    }
}

}  // namespace
