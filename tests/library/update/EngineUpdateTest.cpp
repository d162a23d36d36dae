// The whole engine update against nginx serving what the update-content tool
// wrote from the stand-in engine: manifest, archive, hash list, unpacking,
// then the engine's start and its readiness. A small driver plays the engine
// updater: it hands each record to a download session and finishes it with
// the session's result.
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
#include "library/actions/CBinaryExecute_V3.h"
#include "library/sessions/CDownloadSession.h"
#include "library/update/CDownloadFileList.h"
#include "library/update/ReadFileVersion.h"
#include "library/update/UpdateResult.h"
#include "platform/FileSystem.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

// Runs on the worker thread only.
class UpdateDriver final : public IDownloadSessionEventListener {
  public:
    explicit UpdateDriver(std::string manifestUrl) : manifestUrl_(std::move(manifestUrl)) {}
    ~UpdateDriver() { session_.SetListener(nullptr, 0); }

    void Start() {
        list_.AddUpdateFile(manifestUrl_, "", "", "");
        session_.SetListener(this, 1);
        Next();
    }
    std::future<std::string> Outcome() { return outcome_.get_future(); }

    void OnDownloadStart(uint32_t) override {}
    void OnDownloadSize(uint32_t, const std::string&, int64_t) override {}
    void OnDownloadProgress(uint32_t, const std::string&, int64_t) override {}
    void OnDownloadComplete(uint32_t, const SessionResult& r) override {
        results_ += std::to_string(r.kind) + ":" + std::to_string(r.result) + " ";
        if (r.result != kUpdateHandled)
            ok_ = false;
        list_.FinishUpdateFile(r.url, r.result == kUpdateHandled);
        Next();
    }
    void OnDownloadError(uint32_t, int32_t code) override {
        results_ += "error" + std::to_string(code) + " ";
        ok_ = false;
        list_.FinishUpdateFile(session_.Url(), false);
        Next();
    }

  private:
    void Next() {
        if (CDownloadFile* file = list_.NextUpdateFile()) {
            session_.SetFile(file);
            session_.Start();
            return;
        }
        // A failed update never starts what it may have left behind.
        if (!ok_) {
            outcome_.set_value(results_ + "failed");
            return;
        }
        platform::StartOutcome failure;
        const int started = CBinaryExecute_V3::Instance().RunEngine(
            CDownloadLibThread::Instance()->Loop(),
            [this](const platform::StartOutcome& end) {
                outcome_.set_value(results_ + (end.IsReady() ? "ready " : "failed start ") +
                                   list_.NewVersion());
            },
            wait_, failure);
        if (!started)
            outcome_.set_value(results_ + "not started");
    }

    std::string manifestUrl_;
    CDownloadFileList list_;
    CDownloadSession session_;
    std::unique_ptr<platform::ProcessStart> wait_;
    std::promise<std::string> outcome_;
    std::string results_;
    bool ok_ = true;
};

class EngineUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(nginx_.Started()) << nginx_.Error();
        tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder()));
        mark_ = marks_.Path() + "mark";
        setenv("TVX_TEST_ENGINE_MARK", mark_.c_str(), 1);
        setenv("TVX_TEST_ENGINE_LINGER_MS", "3000", 1);
        unsetenv("TVX_TEST_ENGINE_MODE");
        ASSERT_EQ(TarvoLib_Initialize(&host_, nullptr, 0), tarvo::result::kSuccess);
    }
    void TearDown() override {
        tvxtest::RunOnWorker([this] { driver_.reset(); });
        TarvoLib_Finalize();
        const int pid = std::atoi(tvxtest::ReadFile(mark_).c_str());
        if (pid > 0)
            kill(pid, SIGTERM);
    }
    bool WriteContent(const std::string& extra = "") {
        return tvxtest::Shell(TVX_SOURCE_ROOT "/tools/update_content/make-update-content.sh" +
                              std::string(" --engine ") + tvxtest::Quoted(TVX_TEST_ENGINE) +
                              " --out " + tvxtest::Quoted(nginx_.DocumentRoot()) + " --base-url " +
                              "http://127.0.0.1:" + std::to_string(nginx_.HttpPort()) +
                              " --hashlist " TVX_HASHLIST_TOOL
                              " --no-libraries"
                              " --sign-key " TVX_TEST_PUBLISHER_KEY " --sign-tool " TVX_SIGN_TOOL +
                              extra + " >/dev/null") == 0;
    }
    std::string RunUpdate() {
        std::future<std::string> outcome;
        tvxtest::RunOnWorker([&] {
            driver_ =
                std::make_unique<UpdateDriver>(nginx_.HttpUrl("/ActiveX/update/QGM_updater.xml"));
            outcome = driver_->Outcome();
            driver_->Start();
        });
        if (outcome.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
            return "timed out";
        return outcome.get();
    }

    tvxtest::NginxServer nginx_;
    tvxtest::TempDir marks_;
    std::string mark_;
    tvxtest::RecordingHost host_;
    std::unique_ptr<UpdateDriver> driver_;
};

TEST_F(EngineUpdateTest, TheEngineIsInstalledFromTheUpdateContentAndSignalsReadiness) {
    ASSERT_TRUE(WriteContent());
    const std::string manifest = tvxtest::ReadFile(nginx_.PathOf("ActiveX/update/QGM_updater.xml"));
    EXPECT_NE(manifest.find("ver=\"" TVX_TEST_ENGINE_VERSION "\""), std::string::npos) << manifest;
    // The manifest lists one file, so the all/all archive (the 7z) is taken.
    EXPECT_EQ(RunUpdate(), "2:0 3:0 ready " TVX_TEST_ENGINE_VERSION);
    EXPECT_EQ(ReadFileVersion(tvxtest::EnginePath()), TVX_TEST_ENGINE_VERSION);
    EXPECT_FALSE(tvxtest::ReadFile(mark_).empty());
    EXPECT_NE(nginx_.AccessLog().find("GET /ActiveX/update/vrDownload.7z.hash "),
              std::string::npos);
    EXPECT_NE(nginx_.AccessLog().find("GET /ActiveX/update/vrDownload.7z "), std::string::npos);
}

TEST_F(EngineUpdateTest, AnArchiveWithoutItsHashListIsNeverUnpackedOrRun) {
    ASSERT_TRUE(WriteContent(" --version 9.0.0.1"));
    ASSERT_EQ(std::remove(nginx_.PathOf("ActiveX/update/vrDownload.7z.hash").c_str()), 0);
    // Three attempts, each stopped at the missing hash file.
    EXPECT_EQ(RunUpdate(), "2:0 error4 error4 error4 failed");
    EXPECT_FALSE(platform::PathExists(tvxtest::EnginePath()));
    EXPECT_TRUE(tvxtest::ReadFile(mark_).empty());
    EXPECT_EQ(nginx_.AccessLog().find("GET /ActiveX/update/vrDownload.7z "), std::string::npos);
}

TEST_F(EngineUpdateTest, AHashMismatchGivesFourAndLeavesNoEngine) {
    ASSERT_TRUE(WriteContent(" --version 9.0.0.1"));
    ASSERT_TRUE(nginx_.WriteFile("ActiveX/update/vrDownload.7z.hash", std::string(32, 'x')));
    EXPECT_EQ(RunUpdate(), "2:0 3:4 3:4 3:4 failed");
    EXPECT_FALSE(platform::PathExists(tvxtest::EnginePath()));
}

}  // namespace
