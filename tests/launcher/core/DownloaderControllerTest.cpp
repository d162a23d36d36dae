// The main window controller with a scripted view and the real library
// against nginx: the whole flow from the file list to the installer, and
// every failure on the way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ControllerHarness.h"
#include "launcher/core/CDownloaderController.h"
#include "launcher/core/DownloadPathStore.h"
#include "launcher/core/DownloaderTexts.h"
#include "launcher/core/Format.h"
#include "library/api/CDownloadLibThread.h"
#include "library/direct/CPlatFormDownloader.h"
#include "library/direct/CPlatformReporter.h"
#include "library/engine/EnginePathConfig.h"
#include "library/jobs/CJob.h"
#include "library/jobs/CJobDownloader.h"
#include "library/jobs/CJobManager.h"
#include "platform/FileSystem.h"
#include "platform/NetworkState.h"
#include "platform/Paths.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using launcher::Control;
using launcher::MessageAnswer;
using launcher::MessageButtons;
using namespace std::chrono_literals;
namespace text = launcher::text;

bool NetworkUp() {
    return true;
}

// A zip of a few small files, made by the zip command.
std::string MakeZip(const std::string& dir, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        EXPECT_TRUE(tvxtest::WriteFile(dir + name, "picture " + name));
    std::string command = "cd '" + dir + "' && zip -q -X skin.zip";
    for (const std::string& name : names)
        command += " '" + name + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return tvxtest::ReadFile(dir + "skin.zip");
}

class DownloaderControllerTest : public ::testing::Test {
  protected:
    explicit DownloaderControllerTest(std::string serverConfig = {})
        : server_(tvxtest::NginxServer::Options{std::move(serverConfig)}) {}

    void SetUp() override {
        platform::SetInternetProbe(&NetworkUp);
        // These tests are about the controller: jobs take the direct path,
        // with no engine to install from the placeholder update server.
        tarvo::SetEnginePathEnabled(false);
        ASSERT_TRUE(server_.Started()) << server_.Error();
        ASSERT_TRUE(server_.WriteFile("fullinst/img.zip",
                                      MakeZip(dir_.Path(), {"bk_main.jpg", "btn_start.jpg"})));
    }
    void TearDown() override {
        if (controller_)
            controller_->OnDestroy();
        platform::SetInternetProbe(nullptr);
        platform::SetFreeBytesProbe(nullptr);
    }

    std::string Url(const std::string& name) const { return server_.HttpUrl("/fullinst/" + name); }

    // The three-file game: two data files and the installer script last,
    // which leaves a mark next to itself when it runs.
    static constexpr char kInstaller[] = "#!/bin/sh\necho installed > \"$(dirname \"$0\")/mark\"\n";

    void ServeGame(uint64_t dataSize = 300 * 1024) {
        ASSERT_TRUE(server_.WritePatternFile("fullinst/a.bin", dataSize, 1));
        ASSERT_TRUE(server_.WritePatternFile("fullinst/b.bin", dataSize, 2));
        ASSERT_TRUE(server_.WriteFile("fullinst/Setup.EXE", kInstaller));
        ASSERT_TRUE(server_.WriteFile(
            "fullinst/filelist.txt",
            Url("a.bin") + "\r\n" + Url("b.bin") + "\n" + Url("Setup.EXE") + "\n"));
    }

    void Start(std::string fileList = {}) {
        launcher::DownloaderConfig config =
            tvxtest::GameConfig(fileList.empty() ? Url("filelist.txt") : fileList, Url("img.zip"),
                                dir_.Path(), publisherKey_);
        config.downloadMode = mode_;
        controller_ = std::make_unique<launcher::CDownloaderController>(view_, config);
        view_.controller = controller_.get();
        controller_->OnInitialise();
        tvxtest::MuteReports();
    }

    bool ReachReady() {
        return view_.PumpUntil([this] { return controller_->SkinApplied() || view_.quit; });
    }
    bool Shown(std::string_view text) const {
        for (const auto& box : view_.boxes)
            if (box.text == text)
                return true;
        return false;
    }
    std::string Folder() const { return platform::HomeFolder() + "Download/halvard2/"; }

    // Unsigned content, as without a key built in; signed content has tests
    // of its own.
    std::string publisherKey_;
    std::string mode_ = "2";
    tvxtest::TempDir dir_{"tvx-controller-"};
    tvxtest::NginxServer server_;
    tvxtest::ScriptedView view_;
    std::unique_ptr<launcher::CDownloaderController> controller_;
};

TEST_F(DownloaderControllerTest, DownloadsTheListAndLaunchesTheInstaller) {
    ServeGame();
    view_.answer = [](const std::string& text, MessageButtons) {
        return text == text::kCompleteQuestion ? MessageAnswer::kYes : MessageAnswer::kOk;
    };
    Start();
    ASSERT_TRUE(ReachReady());
    ASSERT_FALSE(view_.quit) << testing::PrintToString(view_.Texts());
    EXPECT_EQ(view_.title, "Halvard2");
    EXPECT_TRUE(view_.checked[Control::HighSpeed]);
    ASSERT_EQ(view_.skins.size(), 1u);
    EXPECT_EQ(view_.skins[0].folder, dir_.Path() + "halvard2/");
    EXPECT_EQ(view_.skins[0].entries, (std::vector<std::string>{"bk_main.jpg", "btn_start.jpg"}));
    EXPECT_EQ(tvxtest::ReadFile(dir_.Path() + "halvard2/bk_main.jpg"), "picture bk_main.jpg");
    EXPECT_EQ(controller_->Urls().size(), 3u);
    EXPECT_TRUE(view_.enabled[Control::Start]);
    EXPECT_FALSE(view_.enabled[Control::Stop]);
    EXPECT_FALSE(view_.enabled[Control::Run]);

    ASSERT_TRUE(view_.PumpUntil([this] { return view_.refreshes > 0; }));
    EXPECT_EQ(view_.strings.currentFile, "[1/3]a.bin");
    EXPECT_EQ(view_.strings.total, launcher::SizeText(2 * 300 * 1024 + sizeof kInstaller - 1));
    EXPECT_EQ(view_.strings.received, "0 Bytes");
    EXPECT_EQ(view_.strings.speed, "0 Bytes/Sec");
    EXPECT_EQ(view_.strings.elapsedTime, "00:00:00");
    EXPECT_EQ(view_.strings.percent, "0%");
    EXPECT_EQ(view_.strings.folder, Folder());

    controller_->OnCommand(Control::Start);
    EXPECT_TRUE(controller_->HasJob());
    EXPECT_FALSE(view_.enabled[Control::Start]);
    EXPECT_TRUE(view_.enabled[Control::Stop]);
    ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }))
        << testing::PrintToString(view_.Texts());

    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kCompleteQuestion});
    EXPECT_TRUE(controller_->Finished());
    EXPECT_TRUE(controller_->Installing());
    EXPECT_EQ(view_.waitDialogs, 1);
    EXPECT_EQ(view_.strings.notice, text::kInstallNotice);
    EXPECT_EQ(view_.progress, 100);
    EXPECT_EQ(controller_->InstallerPath(), Folder() + "Setup.EXE");
    for (const char* name : {"a.bin", "b.bin"})
        EXPECT_TRUE(tvxtest::ReadFile(Folder() + name) ==
                    tvxtest::ReadFile(server_.PathOf(std::string("fullinst/") + name)))
            << name;
    controller_->OnDestroy();
    for (int i = 0; i < 100 && !platform::PathExists(Folder() + "mark"); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(tvxtest::ReadFile(Folder() + "mark"), "installed\n");
}

TEST_F(DownloaderControllerTest, CloseWhileInstallingStaysForTheButtonAndClosesForTheSystem) {
    ServeGame(20 * 1024);
    Start();
    ASSERT_TRUE(ReachReady());
    controller_->OnCommand(Control::Run);
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kNotComplete});
    controller_->OnCommand(Control::Start);
    // No to the completion question: the run button starts the installer.
    ASSERT_TRUE(view_.PumpUntil([this] { return controller_->Finished(); }));
    EXPECT_TRUE(view_.enabled[Control::Run]);
    EXPECT_FALSE(view_.enabled[Control::Start]);
    EXPECT_FALSE(view_.enabled[Control::FolderButton]);
    controller_->OnCommand(Control::Run);
    ASSERT_TRUE(controller_->Installing());
    EXPECT_FALSE(view_.enabled[Control::Run]);

    view_.boxes.clear();
    controller_->OnCommand(Control::Close);
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kInstalling});
    EXPECT_FALSE(view_.closed);
    controller_->OnCloseRequest();
    EXPECT_TRUE(view_.closed);
    EXPECT_EQ(view_.boxes.size(), 1u);
    // The posted installer start still runs and ends with the quit request.
    ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }));
}

TEST_F(DownloaderControllerTest, CloseAndStopWithAJobAskFirst) {
    ServeGame(4 * 1024 * 1024);
    Start();
    ASSERT_TRUE(ReachReady());
    controller_->OnCommand(Control::Stop);  // no job: nothing
    EXPECT_TRUE(view_.boxes.empty());
    controller_->OnCommand(Control::Start);
    ASSERT_TRUE(controller_->HasJob());
    const std::string closeQuestion =
        "창을 닫으시면 Halvard2의 다운로드가 중지됩니다.\n지금 창을 닫으시겠습니까?";
    controller_->OnCommand(Control::Close);  // No keeps it
    controller_->OnCommand(Control::Stop);   // No keeps it running
    EXPECT_EQ(view_.Texts(), (std::vector<std::string>{closeQuestion, text::kStopQuestion}));
    EXPECT_TRUE(controller_->HasJob());
    EXPECT_FALSE(view_.closed);
    view_.answer = [](const std::string&, MessageButtons) { return MessageAnswer::kYes; };
    controller_->OnCloseRequest();
    EXPECT_FALSE(controller_->HasJob());
    EXPECT_TRUE(view_.closed);
}

TEST_F(DownloaderControllerTest, ListFailuresEndTheLauncher) {
    const std::string url1023 = Url("x") + std::string(1023 - Url("x").size(), 'a');
    const struct {
        const char* name;
        std::string list;  // empty: not served
        std::string firstBox;
        size_t urls;
    } cases[] = {
        {"missing", "", text::kListFailed, 0},
        {"only line ends", "\r\n\n\r\n", text::kListFailed, 0},
        {"1024-byte line", std::string(1024, 'u') + "\n", text::kBadUrl, 0},
        // Accepted, then the size check of a URL that names nothing fails.
        {"1023-byte line", url1023 + "\n", text::kSizeCheckFailed, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.list.empty()) {
            ASSERT_TRUE(server_.WriteFile(std::string("fullinst/") + c.name, c.list));
        }
        view_.boxes.clear();
        view_.quit = false;
        Start(Url(c.name));
        ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }));
        ASSERT_FALSE(view_.boxes.empty());
        EXPECT_EQ(view_.boxes[0].text, c.firstBox);
        EXPECT_EQ(view_.boxes[0].caption, "Halvard2");
        EXPECT_EQ(controller_->Urls().size(), c.urls);
        EXPECT_FALSE(controller_->SkinApplied());
        controller_->OnDestroy();
        controller_.reset();
    }
}

TEST_F(DownloaderControllerTest, SizeCheckAndSkinFailuresEndTheLauncher) {
    ASSERT_TRUE(server_.WriteFile("fullinst/nothing.txt", Url("missing.bin") + "\n"));
    Start(Url("nothing.txt"));
    ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }));
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kSizeCheckFailed});
    controller_->OnDestroy();
    controller_.reset();

    ServeGame(1024);
    ASSERT_TRUE(platform::RemoveFile(server_.PathOf("fullinst/img.zip")));
    view_.boxes.clear();
    view_.quit = false;
    Start();
    ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }));
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kSkinFailed});
    EXPECT_FALSE(controller_->SkinApplied());
    EXPECT_TRUE(view_.skins.empty());
}

// Free space as the test says; the download folder's disk is "full" until
// the test makes room.
std::atomic<int64_t> gFreeBytes{0};
int64_t FreeBytesNow(const std::string&) {
    return gFreeBytes;
}

class SlowControllerTest : public DownloaderControllerTest {
  protected:
    SlowControllerTest() : DownloaderControllerTest("limit_rate 256k;") {}
};

TEST_F(SlowControllerTest, DiskFullAsksRetryOrCancelAndTheNextStartChecksAgain) {
    ServeGame(2 * 1024 * 1024);
    Start();
    ASSERT_TRUE(ReachReady());
    gFreeBytes = 0;
    platform::SetFreeBytesProbe(&FreeBytesNow);
    int asked = 0;
    view_.answer = [&asked](const std::string&, MessageButtons buttons) {
        if (buttons != MessageButtons::kRetryCancel)
            return MessageAnswer::kOk;
        return ++asked == 1 ? MessageAnswer::kRetry : MessageAnswer::kCancel;
    };
    controller_->OnCommand(Control::Start);
    ASSERT_TRUE(view_.PumpUntil([&] { return asked == 2; }));
    ASSERT_GE(view_.boxes.size(), 2u);
    const std::string prefix = "해당 디스크(" + Folder() + ")의 공간이 부족(";
    EXPECT_EQ(view_.boxes[0].text.rfind(prefix, 0), 0u) << view_.boxes[0].text;
    EXPECT_EQ(view_.boxes[0].text, view_.boxes[1].text);
    EXPECT_FALSE(controller_->HasJob());
    EXPECT_TRUE(view_.enabled[Control::Start]);

    // The next start checks again; Retry once there is room starts anew.
    bool madeRoom = false;
    view_.answer = [&](const std::string&, MessageButtons buttons) {
        if (buttons == MessageButtons::kRetryCancel)
            madeRoom = true;
        gFreeBytes = int64_t{1} << 40;
        return MessageAnswer::kRetry;
    };
    controller_->OnCommand(Control::Start);
    ASSERT_TRUE(view_.PumpUntil([&] { return madeRoom && controller_->HasJob(); }));
    EXPECT_EQ(view_.boxes.size(), 3u);
    EXPECT_EQ(view_.boxes[2].text, view_.boxes[0].text);
}

// A direct downloader the test drives: the job's status and events come from
// the test, the rest of the library is real.
class DrivenDownloader final : public CJobDownloader {
  public:
    using CJobDownloader::CJobDownloader;
    using CJobDownloader::QueueJobMessage;
    using CJobDownloader::ReportFileDone;
    using CJobDownloader::SetJobStatus;
    std::vector<std::pair<int, int>> answers;

  protected:
    ResultCode Begin(CJob*) override { return tarvo::result::kSuccess; }
    void End(CJob*) override {}
    void Tick(CJob*) override {}
    ResultCode Answer(CJob*, uint8_t resume, uint8_t remember) override {
        answers.emplace_back(resume, remember);
        return tarvo::result::kSuccess;
    }
};

TEST_F(DownloaderControllerTest, ProgressShowsTheStatusAndResumeIsAnsweredOnceProgressWasSeen) {
    ServeGame(1024);
    Start();
    ASSERT_TRUE(ReachReady());
    CJobManager& manager = *CDownloadLibThread::Instance()->Manager();
    DrivenDownloader* driven = nullptr;
    {
        std::lock_guard guard(manager.Lock());
        auto downloader = std::make_unique<DrivenDownloader>(&manager, manager.LockRef());
        driven = downloader.get();
        manager.SetDirectDownloader(std::move(downloader));
    }
    controller_->OnCommand(Control::Start);
    const JobHandle job = controller_->Job();
    ASSERT_NE(job, 0u);
    const auto event = [&](int32_t code) {
        controller_->HandleMessage(launcher::kLibraryMessage, static_cast<uintptr_t>(code), job);
    };

    // Before any progress the user is asked.
    view_.resumeAnswer = {0, 1};
    event(tarvo::event::kResumeQuestion);
    EXPECT_EQ(view_.resumeDialogs, 1);

    JobStatus status{};
    status.total = 3 * 1024 * 1024;
    status.downloaded = 1024 * 1024;
    status.speed = 2048;
    status.elapsed = 61;
    status.remaining = 25 * 3600 + 3 * 60;
    status.percent = 33;
    {
        std::lock_guard guard(manager.Lock());
        driven->SetJobStatus(manager.FindJob(job), status);
    }
    event(tarvo::event::kJobProgress);
    ASSERT_TRUE(view_.PumpUntil([this] { return view_.strings.percent == "33%"; }));
    EXPECT_EQ(view_.strings.remainingTime, "01:03:00");
    EXPECT_EQ(view_.strings.elapsedTime, "00:01:01");
    EXPECT_EQ(view_.strings.received, "1.00 MB");
    EXPECT_EQ(view_.strings.total, "3.00 MB");
    EXPECT_EQ(view_.strings.speed, "2.00 KB/Sec");
    EXPECT_EQ(view_.progress, 33);

    // Progress was seen: answered at once, continue for every file.
    event(tarvo::event::kResumeQuestion);
    EXPECT_EQ(view_.resumeDialogs, 1);
    // A job-size event clears it: the user is asked again.
    event(tarvo::event::kJobSize);
    event(tarvo::event::kResumeQuestion);
    EXPECT_EQ(view_.resumeDialogs, 2);
    ASSERT_TRUE(view_.PumpUntil([&] {
        std::lock_guard guard(manager.Lock());
        return driven->answers.size() == 3;
    }));
    EXPECT_EQ(driven->answers, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {0, 1}}));
    EXPECT_TRUE(view_.boxes.empty()) << testing::PrintToString(view_.Texts());
}

// The controller at Ready with a driven downloader in place of the direct
// one: the test makes the library's events, the controller reacts as the
// user sees it.
class DrivenControllerTest : public DownloaderControllerTest {
  protected:
    void ReachDrivenReady(const std::string& mode = "2", const std::string& list = {}) {
        ServeGame(1024);
        if (!list.empty()) {
            ASSERT_TRUE(server_.WriteFile("fullinst/filelist.txt", list));
        }
        mode_ = mode;
        Start();
        ASSERT_TRUE(ReachReady());
        ASSERT_TRUE(view_.PumpUntil([this] { return view_.refreshes > 0; }));
        CJobManager& manager = Manager();
        std::lock_guard guard(manager.Lock());
        auto downloader = std::make_unique<DrivenDownloader>(&manager, manager.LockRef());
        driven_ = downloader.get();
        manager.SetDirectDownloader(std::move(downloader));
    }
    static CJobManager& Manager() { return *CDownloadLibThread::Instance()->Manager(); }
    // The library raises the event; the controller handles it from its queue.
    void Raise(int32_t code) {
        controller_->HandleMessage(launcher::kLibraryMessage, static_cast<uintptr_t>(code),
                                   controller_->Job());
    }
    // The message's event is posted to the view and handled like any other.
    void QueueMessage(int32_t code) {
        {
            std::lock_guard guard(Manager().Lock());
            driven_->QueueJobMessage(Manager().FindJob(controller_->Job()), code, nullptr);
        }
        view_.PumpPending();
    }
    void Progress(int32_t percent) {
        JobStatus status{};
        status.total = 100;
        status.downloaded = percent;
        status.speed = 4096;
        status.percent = percent;
        {
            std::lock_guard guard(Manager().Lock());
            driven_->SetJobStatus(Manager().FindJob(controller_->Job()), status);
        }
        Raise(tarvo::event::kJobProgress);
        view_.PumpPending();
    }
    void FileDone(const std::string& name) {
        {
            std::lock_guard guard(Manager().Lock());
            driven_->ReportFileDone(Manager().FindJob(controller_->Job()),
                                    (Folder() + name).c_str(), nullptr, Url(name).c_str());
        }
        view_.PumpPending();
    }

    DrivenDownloader* driven_ = nullptr;
};

TEST_F(DrivenControllerTest, JobMessagesShowTheirBoxesAndKeepTheJob) {
    ReachDrivenReady();
    controller_->OnCommand(Control::Start);
    ASSERT_TRUE(controller_->HasJob());
    const JobHandle job = controller_->Job();
    const struct {
        int32_t code;
        std::string text;
    } cases[] = {
        {tarvo::message::kNetworkDown, text::kNetworkDown},
        {tarvo::message::kNetworkBack, text::kNetworkBack},
        {tarvo::message::kDownloadFailed,
         "Halvard2 다운로드를 실패 했습니다.\n잠시 후에 다시 시도해 주십시요."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        view_.boxes.clear();
        QueueMessage(c.code);
        ASSERT_EQ(view_.boxes.size(), 1u);
        EXPECT_EQ(view_.boxes[0].text, c.text);
        EXPECT_EQ(view_.boxes[0].caption, "Halvard2");
        EXPECT_EQ(view_.boxes[0].buttons, MessageButtons::kOk);
        EXPECT_EQ(controller_->Job(), job);
    }
}

TEST_F(DrivenControllerTest, DiskFullAsAJobMessageStopsAndAsksOnce) {
    ReachDrivenReady();
    controller_->OnCommand(Control::Start);
    const JobHandle job = controller_->Job();
    int asked = 0;
    view_.answer = [&](const std::string&, MessageButtons buttons) {
        if (buttons == MessageButtons::kRetryCancel && ++asked == 1) {
            // A second report while the box is up opens no second loop.
            controller_->HandleMessage(launcher::kLibraryMessage, tarvo::event::kJobMessage, job);
        }
        return MessageAnswer::kCancel;
    };
    QueueMessage(tarvo::message::kDiskFull);
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0].text.rfind("해당 디스크(" + Folder() + ")의 공간이 부족(", 0), 0u)
        << view_.boxes[0].text;
    // The job was stopped before the question; Cancel leaves it stopped.
    EXPECT_FALSE(controller_->HasJob());
    EXPECT_TRUE(view_.enabled[Control::Start]);
}

TEST_F(DrivenControllerTest, EachCompletedFileStepsTheLabelAndTheLastInstallerWins) {
    // Two installers and a data file: both .exe files qualify, the last wins.
    ASSERT_TRUE(server_.WriteFile("fullinst/a.exe", "a"));
    ASSERT_TRUE(server_.WriteFile("fullinst/b.EXE", "b"));
    ASSERT_TRUE(server_.WriteFile("fullinst/c.bin", "c"));
    ReachDrivenReady("2", Url("a.exe") + "\n" + Url("b.EXE") + "\n" + Url("c.bin") + "\n");
    EXPECT_EQ(view_.strings.currentFile, "[1/3]a.exe");
    controller_->OnCommand(Control::Start);
    const struct {
        const char* name;
        const char* label;
        const char* installer;
    } cases[] = {
        {"a.exe", "[2/3]b.EXE", "a.exe"},
        {"b.EXE", "[3/3]c.bin", "b.EXE"},
        // The last file: nothing further to name, and it is no installer.
        {"c.bin", "[3/3]c.bin", "b.EXE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileDone(c.name);
        EXPECT_EQ(view_.strings.currentFile, c.label);
        EXPECT_EQ(controller_->InstallerPath(), Folder() + c.installer);
    }
}

TEST_F(DrivenControllerTest, StopWithYesRemovesTheJobAndTheNextResumeIsAskedAgain) {
    ReachDrivenReady();
    view_.resumeAnswer = {1, 1};
    controller_->OnCommand(Control::Start);
    const JobHandle job = controller_->Job();
    Progress(40);
    EXPECT_EQ(view_.strings.percent, "40%");
    EXPECT_EQ(view_.strings.speed, "4.00 KB/Sec");
    Raise(tarvo::event::kResumeQuestion);
    EXPECT_EQ(view_.resumeDialogs, 0);  // answered at once after progress

    view_.answer = [](const std::string&, MessageButtons) { return MessageAnswer::kYes; };
    controller_->OnCommand(Control::Stop);
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kStopQuestion});
    EXPECT_FALSE(controller_->HasJob());
    JobStatus status{};
    EXPECT_NE(TarvoLib_GetJobProgress(job, &status), tarvo::result::kSuccess);
    view_.PumpPending();
    EXPECT_EQ(view_.strings.speed, "0 Bytes/Sec");
    EXPECT_TRUE(view_.enabled[Control::Start]);
    EXPECT_FALSE(view_.enabled[Control::Stop]);
    EXPECT_TRUE(view_.enabled[Control::FolderButton]);

    controller_->OnCommand(Control::Start);
    ASSERT_TRUE(controller_->HasJob());
    Raise(tarvo::event::kResumeQuestion);
    EXPECT_EQ(view_.resumeDialogs, 1);
}

TEST_F(DrivenControllerTest, TheFolderButtonWorksOnlyWithoutAJobAndTheFolderIsWrittenAtStart) {
    ReachDrivenReady();
    const std::string chosen = dir_.Path() + "chosen/";
    ASSERT_TRUE(platform::MakeDirectory(chosen));
    view_.browsed = chosen;
    controller_->OnCommand(Control::FolderButton);
    ASSERT_EQ(view_.strings.folder, chosen) << testing::PrintToString(view_.Texts());

    controller_->OnCommand(Control::Start);
    EXPECT_NE(tvxtest::ReadFile(launcher::DownloadPathIniPath()).find("halvard2=" + chosen),
              std::string::npos)
        << tvxtest::ReadFile(launcher::DownloadPathIniPath());
    // With a job the button does nothing.
    view_.browsed = dir_.Path();
    controller_->OnCommand(Control::FolderButton);
    EXPECT_EQ(view_.strings.folder, chosen);
}

TEST_F(DrivenControllerTest, ModeOneOrYesInTheHighSpeedBoxStartsWithoutPeers) {
    const struct {
        const char* name;
        std::string mode;
        bool answerYes;  // unchecks the high-speed box and answers its question
        int32_t peerFlag;
    } cases[] = {
        {"high speed", "2", false, 1},
        {"built-in mode 1", "1", false, 0},
        {"Yes in the high-speed box", "2", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (controller_) {
            controller_->OnDestroy();
            controller_.reset();
        }
        ReachDrivenReady(c.mode);
        if (c.answerYes) {
            view_.answer = [](const std::string&, MessageButtons) { return MessageAnswer::kYes; };
            view_.checked[Control::HighSpeed] = false;
            controller_->OnCommand(Control::HighSpeed);
            view_.answer = nullptr;
        }
        controller_->OnCommand(Control::Start);
        std::lock_guard guard(Manager().Lock());
        const CJob* job = Manager().FindJob(controller_->Job());
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(job->Mode(), c.peerFlag);
    }
}

TEST_F(DrivenControllerTest, AThirdDataEventIsIgnored) {
    ReachDrivenReady();
    const std::vector<std::string> urls = controller_->Urls();
    view_.boxes.clear();
    Raise(tarvo::event::kDataComplete);
    EXPECT_EQ(view_.skins.size(), 1u);
    EXPECT_EQ(controller_->Urls(), urls);
    EXPECT_TRUE(view_.boxes.empty());
    EXPECT_FALSE(view_.quit);
}

TEST(DownloaderControllerAlone, HighSpeedBoxAndTheStartBeforeAgreement) {
    tvxtest::ScriptedView view;
    launcher::DownloaderConfig config;
    config.gameTitle = "Halvard2";
    launcher::CDownloaderController controller(view, config);
    view.controller = &controller;
    // The click has unchecked the box; No checks it again.
    view.checked[Control::HighSpeed] = false;
    controller.OnCommand(Control::HighSpeed);
    EXPECT_TRUE(view.checked[Control::HighSpeed]);
    EXPECT_EQ(controller.DownloadMode(), "2");
    view.answer = [](const std::string&, MessageButtons) { return MessageAnswer::kYes; };
    view.checked[Control::HighSpeed] = false;
    controller.OnCommand(Control::HighSpeed);
    EXPECT_FALSE(view.checked[Control::HighSpeed]);
    EXPECT_EQ(controller.DownloadMode(), "1");
    EXPECT_EQ(view.Texts(), std::vector<std::string>(2, text::kHighSpeedQuestion));

    view.boxes.clear();
    controller.OnCommand(Control::Start);  // agreement not checked
    EXPECT_EQ(view.Texts(), std::vector<std::string>{text::kAgreementNeeded});
    controller.OnDestroy();
}

TEST(DownloaderControllerAlone, EmptySkinUrlQuitsAtOnce) {
    tvxtest::ScriptedView view;
    launcher::DownloaderConfig config;
    config.gameTitle = "Halvard2";
    config.fileListUrl = "http://127.0.0.1:1/fullinst/filelist.txt";
    launcher::CDownloaderController controller(view, config);
    controller.OnInitialise();
    EXPECT_EQ(view.Texts(), std::vector<std::string>{text::kSkinUrlMissing});
    EXPECT_TRUE(view.quit);
    EXPECT_EQ(CDownloadLibThread::Instance(), nullptr);
}

// A library that will not start (here: already started by someone else)
// leaves nothing to wait for: the launcher ends after the message instead of
// staying as an invisible window.
TEST(DownloaderControllerAlone, FailedInitialisationQuits) {
    platform::QueueMessageTarget other;
    ASSERT_EQ(TarvoLib_Initialize(&other, nullptr, 0), tarvo::result::kSuccess);
    tvxtest::ScriptedView view;
    launcher::DownloaderConfig config;
    config.gameTitle = "Halvard2";
    config.fileListUrl = "http://127.0.0.1:1/fullinst/filelist.txt";
    config.skinUrl = "http://127.0.0.1:1/fullinst/img.zip";
    {
        launcher::CDownloaderController controller(view, config);
        view.controller = &controller;
        controller.OnInitialise();
        EXPECT_EQ(view.Texts(), std::vector<std::string>{"TarvoLib 초기화 실패."});
        EXPECT_TRUE(view.quit);
    }
    TarvoLib_Finalize();
}

}  // namespace
