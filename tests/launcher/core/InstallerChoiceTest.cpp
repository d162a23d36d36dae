// The installer is only ever one of the launcher's own job files: a
// completed-file record that names anything else (an engine's detail text may
// name any path) is not taken, and at the end nothing is run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "ControllerHarness.h"
#include "launcher/core/CDownloaderController.h"
#include "launcher/core/DownloaderTexts.h"
#include "launcher/core/FileListText.h"
#include "launcher/core/InstallerLaunch.h"
#include "library/api/CDownloadLibThread.h"
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

using launcher::MessageAnswer;
using launcher::MessageButtons;
namespace text = launcher::text;

TEST(JobFilePathTest, TheLibrarysNameForAUrlInAFolder) {
    EXPECT_EQ(launcher::JobFilePath("/d/game/", "http://h/x/Setup.exe"), "/d/game/Setup.exe");
    EXPECT_EQ(launcher::JobFilePath("/d/game", "http://h/a.bin"), "/d/game/a.bin");
    EXPECT_EQ(launcher::JobFilePath("/d\\game\\", "no-slash"), "/d/game/no-slash");
}

// A direct downloader the test drives: it holds the job and reports what the
// test tells it to.
class ScriptedDownloader final : public CJobDownloader {
  public:
    using CJobDownloader::CJobDownloader;
    using CJobDownloader::CompleteJob;
    using CJobDownloader::ReportFileDone;
    CJob* job = nullptr;

  protected:
    ResultCode Begin(CJob* j) override {
        job = j;
        return tarvo::result::kSuccess;
    }
    void End(CJob*) override {}
    void Tick(CJob*) override {}
};

bool NetworkUp() {
    return true;
}

TEST(InstallerChoiceTest, ARecordNamingAPathOutsideTheJobIsNeverRun) {
    platform::SetInternetProbe(&NetworkUp);
    tarvo::SetEnginePathEnabled(false);
    tvxtest::TempDir dir("tvx-choice-");
    tvxtest::NginxServer server;
    ASSERT_TRUE(server.Started()) << server.Error();
    const std::string url = server.HttpUrl("/fullinst/Setup.exe");
    ASSERT_TRUE(server.WriteFile("fullinst/Setup.exe", "#!/bin/sh\n"));
    ASSERT_TRUE(server.WriteFile("fullinst/other.bin", "x"));
    ASSERT_TRUE(server.WriteFile("fullinst/filelist.txt",
                                 url + "\n" + server.HttpUrl("/fullinst/other.bin") + "\n"));
    ASSERT_EQ(std::system(
                  ("cd '" + dir.Path() + "' && echo p > bk_main.jpg && zip -q skin.zip bk_main.jpg")
                      .c_str()),
              0);
    ASSERT_TRUE(server.WriteFile("fullinst/img.zip", tvxtest::ReadFile(dir.Path() + "skin.zip")));
    // Someone else's script, which leaves a mark if it is ever run.
    const std::string stranger = dir.Path() + "elsewhere/Setup.exe";
    ASSERT_TRUE(tvxtest::MakeDirs(dir.Path() + "elsewhere"));
    ASSERT_TRUE(tvxtest::WriteFile(stranger, "#!/bin/sh\ntouch \"$0.ran\"\n"));

    tvxtest::ScriptedView view;
    view.answer = [](const std::string& t, MessageButtons) {
        return t == text::kCompleteQuestion ? MessageAnswer::kYes : MessageAnswer::kOk;
    };
    // Unsigned content, as without a key built in.
    const launcher::DownloaderConfig config =
        tvxtest::GameConfig(server.HttpUrl("/fullinst/filelist.txt"),
                            server.HttpUrl("/fullinst/img.zip"), dir.Path(), {});
    launcher::CDownloaderController controller(view, config);
    view.controller = &controller;
    controller.OnInitialise();
    ASSERT_TRUE(view.PumpUntil([&] { return controller.SkinApplied() || view.quit; }));
    ASSERT_FALSE(view.quit) << testing::PrintToString(view.Texts());

    CJobManager& manager = *CDownloadLibThread::Instance()->Manager();
    ScriptedDownloader* direct = nullptr;
    {
        std::lock_guard guard(manager.Lock());
        auto owned = std::make_unique<ScriptedDownloader>(&manager, manager.LockRef());
        direct = owned.get();
        manager.SetDirectDownloader(std::move(owned));
    }
    controller.OnCommand(launcher::Control::Start);
    ASSERT_NE(direct->job, nullptr);
    const std::string folder = platform::HomeFolder() + "Download/halvard2/";
    ASSERT_TRUE(tvxtest::WriteFile(folder + "Setup.exe", "#!/bin/sh\n"));
    {
        std::lock_guard guard(manager.Lock());
        // The job's own Setup.exe, but with a detail text naming the stranger's.
        direct->ReportFileDone(direct->job, (folder + "Setup.exe").c_str(), stranger.c_str(),
                               url.c_str());
        direct->CompleteJob(direct->job, 0, 0);
    }
    ASSERT_TRUE(view.PumpUntil([&] { return view.quit.load(); }))
        << testing::PrintToString(view.Texts());
    EXPECT_EQ(controller.InstallerPath(), "");
    controller.OnDestroy();
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{text::kCompleteQuestion,
                                                      launcher::MissingInstallerText("")}));
    EXPECT_FALSE(platform::PathExists(stranger + ".ran"));
    platform::SetInternetProbe(nullptr);
}

}  // namespace
