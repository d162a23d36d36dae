// The engine update with the publisher's key, through the real engine updater
// against nginx: only a signed update is installed, never an older one, and
// only an engine that is as it was installed is ever started. The attack this
// stops: a server (or anyone on the way) offering a new version whose engine
// is a script, with a matching MD4 hash list.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "LibraryHarness.h"
#include "UpdateTestSupport.h"
#include "library/common/PublisherKey.h"
#include "library/engine/CDownloader.h"
#include "library/engine/IDownloaderEventListener.h"
#include "library/update/EngineFileRecord.h"
#include "library/update/ReadFileVersion.h"
#include "platform/FileSystem.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "util/ReleaseMetadata.h"

namespace {

// The updater's outcome: "started" or "not started".
class PatchListener final : public IDownloaderEventListener {
  public:
    std::future<std::string> Outcome() { return outcome_.get_future(); }
    void OnUpdaterOffline() override {}
    void OnUpdaterFileBegin(const std::string&, int64_t) override {}
    void OnUpdaterProgress(const std::string&, int64_t) override {}
    void OnPatchResult(EngineStart started, int32_t, const std::string&) override {
        if (!done_) {
            done_ = true;
            outcome_.set_value(started == EngineStart::Ready ? "started" : "not started");
        }
    }
    void OnUpdaterPathFailed(int32_t) override {
        if (!done_) {
            done_ = true;
            outcome_.set_value("path failed");
        }
    }

  private:
    bool done_ = false;
    std::promise<std::string> outcome_;
};

class SignedUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(PublisherKey().empty()) << "builds with tests have the tests' key built in";
        ASSERT_TRUE(nginx_.Started()) << nginx_.Error();
        tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder()));
        mark_ = work_.Path() + "mark";
        setenv("TVX_TEST_ENGINE_MARK", mark_.c_str(), 1);
        setenv("TVX_TEST_ENGINE_LINGER_MS", "3000", 1);
        unsetenv("TVX_TEST_ENGINE_MODE");
        // The attacker's engine: a script that leaves its own mark.
        evil_ = work_.Path() + "evil.sh";
        ASSERT_TRUE(
            tvxtest::WriteFile(evil_, "#!/bin/sh\necho ran > '" + work_.Path() + "owned'\n"));
        ASSERT_EQ(TarvoLib_Initialize(&host_, nullptr, 0), tarvo::result::kSuccess);
    }
    void TearDown() override {
        tvxtest::RunOnWorker([this] { updater_.reset(); });
        TarvoLib_Finalize();
        const int pid = std::atoi(tvxtest::ReadFile(mark_).c_str());
        if (pid > 0)
            kill(pid, SIGTERM);
    }
    // The update content from an engine file, signed with key (none: unsigned).
    void WriteContent(const std::string& engine, const std::string& version,
                      const std::string& key) {
        std::string command =
            TVX_SOURCE_ROOT "/tools/update_content/make-update-content.sh --engine " +
            tvxtest::Quoted(engine) + " --out " + tvxtest::Quoted(nginx_.DocumentRoot()) +
            " --base-url " + nginx_.HttpUrl("") +
            " --hashlist " TVX_HASHLIST_TOOL " --no-libraries --version " + version;
        if (!key.empty())
            command += " --sign-key " + tvxtest::Quoted(key) + " --sign-tool " TVX_SIGN_TOOL;
        ASSERT_EQ(tvxtest::Shell(command + " >/dev/null"), 0) << command;
    }
    std::string Update(const std::string& file) const {
        return tvxtest::ReadFile(nginx_.PathOf("ActiveX/update/" + file));
    }
    void Serve(const std::string& file, const std::string& bytes) {
        ASSERT_TRUE(nginx_.WriteFile("ActiveX/update/" + file, bytes));
    }
    std::string RunUpdate() {
        PatchListener listener;
        std::future<std::string> outcome = listener.Outcome();
        tvxtest::RunOnWorker([&] {
            updater_ = std::make_unique<CDownloader>(
                &listener, CDownloadLibThread::Instance()->Loop(),
                qvSmartPtr<cpCMutex>(&CDownloadLibThread::Instance()->Manager()->Lock()));
            updater_->Start(nginx_.HttpUrl("/ActiveX/update/QGM_updater.xml"));
        });
        std::string result = outcome.wait_for(std::chrono::seconds(30)) == std::future_status::ready
                                 ? outcome.get()
                                 : "timed out";
        tvxtest::RunOnWorker([this] { updater_.reset(); });
        return result;
    }
    int Requests(const std::string& path) const {
        const std::string log = nginx_.AccessLog();
        const std::string request = "GET " + path + " ";
        int count = 0;
        for (size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1))
            ++count;
        return count;
    }
    bool EngineRan() const { return !tvxtest::ReadFile(mark_).empty(); }
    bool ScriptRan() const { return platform::PathExists(work_.Path() + "owned"); }

    tvxtest::NginxServer nginx_;
    tvxtest::TempDir work_{"tvx-signed-update-"};
    std::string mark_;
    std::string evil_;
    tvxtest::RecordingHost host_;
    std::unique_ptr<CDownloader> updater_;
};

TEST_F(SignedUpdateTest, ASignedUpdateIsInstalledRecordedAndStarted) {
    WriteContent(TVX_TEST_ENGINE, TVX_TEST_ENGINE_VERSION, TVX_TEST_PUBLISHER_KEY);
    EXPECT_EQ(RunUpdate(), "started");
    EXPECT_EQ(ReadFileVersion(tvxtest::EnginePath()), TVX_TEST_ENGINE_VERSION);
    EXPECT_TRUE(EngineFileMatchesRecord(tvxtest::EnginePath()));
    EXPECT_TRUE(EngineRan());
    EXPECT_EQ(Requests("/ActiveX/update/QGM_updater.xml.release"), 1);
}

TEST_F(SignedUpdateTest, TheUpdateAttackInstallsAndRunsNothing) {
    // The genuine signed update, kept for the cases that mix it in.
    WriteContent(TVX_TEST_ENGINE, TVX_TEST_ENGINE_VERSION, TVX_TEST_PUBLISHER_KEY);
    const std::string genuineMetadata = Update("QGM_updater.xml.release");
    const std::string genuineManifest = Update("QGM_updater.xml");
    const struct {
        const char* name;
        std::function<void()> serve;
    } cases[] = {
        {"no metadata", [&] { WriteContent(evil_, "9.9.9.9", ""); }},
        {"metadata signed with another key",
         [&] { WriteContent(evil_, "9.9.9.9", TVX_TEST_OTHER_KEY); }},
        {"the genuine metadata beside another manifest",
         [&] {
             WriteContent(evil_, "9.9.9.9", "");
             Serve("QGM_updater.xml.release", genuineMetadata);
         }},
        {"the genuine manifest and metadata, another archive",
         [&] {
             WriteContent(evil_, TVX_TEST_ENGINE_VERSION, "");
             Serve("QGM_updater.xml", genuineManifest);
             Serve("QGM_updater.xml.release", genuineMetadata);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder()));
        c.serve();
        EXPECT_EQ(RunUpdate(), "not started");
        EXPECT_FALSE(platform::PathExists(tvxtest::EnginePath()));
        EXPECT_FALSE(ScriptRan());
        EXPECT_FALSE(EngineRan());
    }
}

TEST_F(SignedUpdateTest, AnOlderSignedEngineIsNeverInstalled) {
    WriteContent(TVX_TEST_ENGINE, TVX_TEST_ENGINE_VERSION, TVX_TEST_PUBLISHER_KEY);
    ASSERT_EQ(RunUpdate(), "started");
    const std::string installed = tvxtest::ReadFile(tvxtest::EnginePath());
    const int archiveGets = Requests("/ActiveX/update/vrDownload.7z");
    // A genuine, signed, older release: the script stands for its old engine.
    WriteContent(evil_, "3.5.0.1", TVX_TEST_PUBLISHER_KEY);
    EXPECT_EQ(RunUpdate(), "started");  // the installed, newer engine
    EXPECT_EQ(Requests("/ActiveX/update/vrDownload.7z"), archiveGets);
    EXPECT_EQ(Requests("/ActiveX/update/vrDownload.zip"), 0);
    EXPECT_EQ(tvxtest::ReadFile(tvxtest::EnginePath()), installed);
    EXPECT_FALSE(ScriptRan());
}

TEST_F(SignedUpdateTest, AnEngineChangedAfterItsInstallIsNotStartedAndIsInstalledAgain) {
    WriteContent(TVX_TEST_ENGINE, TVX_TEST_ENGINE_VERSION, TVX_TEST_PUBLISHER_KEY);
    ASSERT_EQ(RunUpdate(), "started");
    const std::string installed = tvxtest::ReadFile(tvxtest::EnginePath());
    const int pid = std::atoi(tvxtest::ReadFile(mark_).c_str());
    if (pid > 0)
        kill(pid, SIGTERM);
    ASSERT_TRUE(tvxtest::WriteFile(mark_, ""));

    // Changed on disk, same version: with the update server gone it is not started.
    // Replaced beside and renamed over: the old process may still hold its file.
    ASSERT_TRUE(tvxtest::WriteFile(tvxtest::EnginePath() + ".changed", installed + "x"));
    ASSERT_EQ(
        std::rename((tvxtest::EnginePath() + ".changed").c_str(), tvxtest::EnginePath().c_str()),
        0);
    ASSERT_EQ(std::remove(nginx_.PathOf("ActiveX/update/QGM_updater.xml").c_str()), 0);
    EXPECT_EQ(RunUpdate(), "not started");
    EXPECT_FALSE(EngineRan());

    // With the update back it is installed again from it, then started.
    WriteContent(TVX_TEST_ENGINE, TVX_TEST_ENGINE_VERSION, TVX_TEST_PUBLISHER_KEY);
    EXPECT_EQ(RunUpdate(), "started");
    EXPECT_EQ(tvxtest::ReadFile(tvxtest::EnginePath()), installed);
    EXPECT_TRUE(EngineRan());
}

}  // namespace
