// The controller with a publisher key and the real library against nginx:
// a signed game is taken and installed; a list or a file that the
// publisher's signature does not vouch for never is.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ControllerHarness.h"
#include "launcher/core/CDownloaderController.h"
#include "launcher/core/DownloaderTexts.h"
#include "launcher/core/SignedFileList.h"
#include "library/api/CDownloadLibThread.h"
#include "library/direct/CPlatFormDownloader.h"
#include "library/direct/CPlatformReporter.h"
#include "library/engine/EnginePathConfig.h"
#include "library/jobs/CJobManager.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/NetworkState.h"
#include "platform/Paths.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "util/ReleaseMetadata.h"

namespace {

using launcher::Control;
using launcher::MessageAnswer;
using launcher::MessageButtons;
using namespace std::chrono_literals;
namespace text = launcher::text;

bool NetworkUp() {
    return true;
}

class SignedContentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetInternetProbe(&NetworkUp);
        tarvo::SetEnginePathEnabled(false);
        ASSERT_TRUE(server_.Started()) << server_.Error();
        ASSERT_TRUE(tvxtest::WriteFile(dir_.Path() + "bk_main.jpg", "picture"));
        ASSERT_EQ(
            std::system(("cd '" + dir_.Path() + "' && zip -q -X skin.zip bk_main.jpg").c_str()), 0);
        ASSERT_TRUE(
            server_.WriteFile("fullinst/img.zip", tvxtest::ReadFile(dir_.Path() + "skin.zip")));
        ASSERT_TRUE(server_.WritePatternFile("fullinst/a.bin", 300 * 1024, 1));
        ASSERT_TRUE(server_.WritePatternFile("fullinst/b.bin", 200 * 1024, 2));
        ASSERT_TRUE(server_.WriteFile("fullinst/Setup.EXE", kInstaller));
    }
    void TearDown() override {
        if (controller_)
            controller_->OnDestroy();
        platform::SetInternetProbe(nullptr);
    }

    static constexpr char kInstaller[] = "#!/bin/sh\necho installed > \"$(dirname \"$0\")/mark\"\n";

    std::string Url(const std::string& name) const { return server_.HttpUrl("/fullinst/" + name); }
    std::string GameList() const {
        return Url("a.bin") + "\r\n" + Url("b.bin") + "\n" + Url("Setup.EXE") + "\n";
    }
    // Metadata for the list with an entry for every served file it names.
    ReleaseMetadata MetadataFor(const std::string& list, uint64_t version = 5) const {
        ReleaseMetadata metadata;
        metadata.kind = ReleaseKind::kFileList;
        metadata.version = version;
        metadata.expires = platform::Clock().CalendarSeconds() + 3600;
        metadata.subjectSha256 = CSha256::Of(list);
        metadata.subjectSize = static_cast<int64_t>(list.size());
        for (const char* name : {"a.bin", "b.bin", "Setup.EXE"}) {
            const std::string bytes =
                tvxtest::ReadFile(server_.PathOf(std::string("fullinst/") + name));
            metadata.files.push_back(
                {Url(name), static_cast<int64_t>(bytes.size()), CSha256::Of(bytes)});
        }
        return metadata;
    }
    void Serve(const std::string& listName, const std::string& list, const std::string& metadata) {
        ASSERT_TRUE(server_.WriteFile("fullinst/" + listName, list));
        const std::string metadataName = "fullinst/" + listName + kReleaseMetadataSuffix;
        if (metadata.empty()) {
            std::remove(server_.PathOf(metadataName).c_str());
        } else {
            ASSERT_TRUE(server_.WriteFile(metadataName, metadata));
        }
    }

    void Start(const std::string& listName = "filelist.txt") {
        controller_ = std::make_unique<launcher::CDownloaderController>(
            view_, tvxtest::GameConfig(Url(listName), Url("img.zip"), dir_.Path(), publicKey_));
        view_.controller = controller_.get();
        controller_->OnInitialise();
        tvxtest::MuteReports();
    }
    void Stop() {
        controller_->OnDestroy();
        controller_.reset();
    }
    bool ReachReady() {
        return view_.PumpUntil([this] { return controller_->SkinApplied() || view_.quit; });
    }
    std::string IniPath() const { return dir_.Path() + "ReleaseVersion.ini"; }
    std::string Folder() const { return platform::HomeFolder() + "Download/halvard2/"; }
    // Requests for the file; with ranged set, only the downloads' (they ask
    // for "bytes=0-" and get 206, where the size checks get 200).
    int Requests(const std::string& name, bool ranged = false) const {
        const std::string log = server_.AccessLog();
        const std::string request =
            "\"GET /fullinst/" + name + " HTTP/1.1\" " + (ranged ? "206 " : "");
        int count = 0;
        for (size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1))
            ++count;
        return count;
    }

    const std::string privateKey_ = tvxtest::ReadFile(TVX_TEST_PUBLISHER_KEY);
    std::string publicKey_ = tvxtest::ReadFile(TVX_TEST_PUBLISHER_PUB);
    tvxtest::TempDir dir_{"tvx-signed-"};
    tvxtest::NginxServer server_;
    tvxtest::ScriptedView view_;
    std::unique_ptr<launcher::CDownloaderController> controller_;
};

TEST_F(SignedContentTest, SignedGameCompletesAndItsInstallerRuns) {
    const std::string list = GameList();
    Serve("filelist.txt", list, SignedReleaseText(MetadataFor(list, 5), privateKey_));
    view_.answer = [](const std::string& text, MessageButtons) {
        return text == text::kCompleteQuestion ? MessageAnswer::kYes : MessageAnswer::kOk;
    };
    Start();
    ASSERT_TRUE(ReachReady());
    ASSERT_FALSE(view_.quit) << testing::PrintToString(view_.Texts());
    ASSERT_NE(controller_->Release(), nullptr);
    EXPECT_EQ(controller_->Release()->version, 5u);
    EXPECT_EQ(launcher::AcceptedReleaseVersion(IniPath(), Url("filelist.txt")), 5u);

    controller_->OnCommand(Control::Start);
    ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }))
        << testing::PrintToString(view_.Texts());
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{text::kCompleteQuestion});
    EXPECT_TRUE(controller_->Finished());
    EXPECT_EQ(controller_->InstallerPath(), Folder() + "Setup.EXE");
    EXPECT_EQ(Requests("a.bin", true), 1);
    controller_->OnDestroy();
    for (int i = 0; i < 100 && !platform::PathExists(Folder() + "mark"); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(tvxtest::ReadFile(Folder() + "mark"), "installed\n");
}

TEST_F(SignedContentTest, OneFlippedByteIsFetchedTwiceThenTheJobFailsAndNothingRuns) {
    const std::string list = GameList();
    Serve("filelist.txt", list, SignedReleaseText(MetadataFor(list), privateKey_));
    // The server's copy changes after signing: one byte in the middle.
    std::string bytes = tvxtest::ReadFile(server_.PathOf("fullinst/b.bin"));
    bytes[bytes.size() / 2] ^= 0x01;
    ASSERT_TRUE(server_.WriteFile("fullinst/b.bin", bytes));
    view_.answer = [](const std::string&, MessageButtons) { return MessageAnswer::kYes; };
    Start();
    ASSERT_TRUE(ReachReady());
    ASSERT_FALSE(view_.quit) << testing::PrintToString(view_.Texts());
    controller_->OnCommand(Control::Start);
    const std::string failed =
        "Halvard2 다운로드를 실패 했습니다.\n잠시 후에 다시 시도해 주십시요.";
    ASSERT_TRUE(view_.PumpUntil([&] {
        for (const auto& box : view_.boxes)
            if (box.text == failed)
                return true;
        return false;
    })) << testing::PrintToString(view_.Texts());
    EXPECT_EQ(Requests("a.bin", true), 1);
    EXPECT_EQ(Requests("b.bin", true), 2);
    EXPECT_EQ(Requests("Setup.EXE", true), 0);
    EXPECT_FALSE(controller_->Finished());
    EXPECT_FALSE(controller_->Installing());
    EXPECT_FALSE(platform::PathExists(Folder() + "b.bin"));  // never left behind
    EXPECT_FALSE(platform::PathExists(Folder() + "Setup.EXE"));
    EXPECT_FALSE(platform::PathExists(Folder() + "mark"));
}

TEST_F(SignedContentTest, ListsTheSignatureDoesNotVouchForAreRefused) {
    const std::string list = GameList();
    const std::string extra = list + Url("evil.exe") + "\n";
    ASSERT_TRUE(server_.WriteFile("fullinst/evil.exe", "#!/bin/sh\necho owned\n"));
    ReleaseMetadata older = MetadataFor(list, 4);
    ReleaseMetadata expired = MetadataFor(list, 9);
    expired.expires = platform::Clock().CalendarSeconds() - 1;
    ReleaseMetadata withoutEvil = MetadataFor(extra, 9);

    const struct {
        const char* name;
        std::string list;
        std::string metadata;  // empty: none served
    } cases[] = {
        {"extra URL, metadata of the list without it", extra,
         SignedReleaseText(MetadataFor(list, 9), privateKey_)},
        {"extra URL, signed list bytes without its file", extra,
         SignedReleaseText(withoutEvil, privateKey_)},
        {"older release (replay)", list, SignedReleaseText(older, privateKey_)},
        {"expired", list, SignedReleaseText(expired, privateKey_)},
        {"signed with another key", list,
         SignedReleaseText(MetadataFor(list, 9), tvxtest::ReadFile(TVX_TEST_OTHER_KEY))},
        {"no metadata", list, ""},
        {"garbage metadata", list, "<html>not found</html>\n"},
    };
    // A newer release was accepted before: release 4 is a replay.
    ASSERT_TRUE(launcher::StoreAcceptedReleaseVersion(IniPath(), Url("refused"), 5));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Serve("refused", c.list, c.metadata);
        view_.boxes.clear();
        view_.quit = false;
        Start("refused");
        ASSERT_TRUE(view_.PumpUntil([this] { return view_.quit.load(); }));
        ASSERT_FALSE(view_.boxes.empty());
        EXPECT_EQ(view_.boxes[0].text, text::kListRequestFailed);
        EXPECT_TRUE(controller_->Urls().empty());
        EXPECT_EQ(controller_->Release(), nullptr);
        EXPECT_FALSE(controller_->SkinApplied());
        Stop();
        EXPECT_EQ(launcher::AcceptedReleaseVersion(IniPath(), Url("refused")), 5u);
    }
    EXPECT_EQ(Requests("img.zip"), 0);
    EXPECT_EQ(Requests("evil.exe"), 0);
}

TEST_F(SignedContentTest, SameReleaseAgainIsTakenAndNoKeyMeansUnsignedAsBefore) {
    const std::string list = GameList();
    Serve("filelist.txt", list, SignedReleaseText(MetadataFor(list, 5), privateKey_));
    ASSERT_TRUE(launcher::StoreAcceptedReleaseVersion(IniPath(), Url("filelist.txt"), 5));
    Start();
    ASSERT_TRUE(ReachReady());
    EXPECT_FALSE(view_.quit) << testing::PrintToString(view_.Texts());
    EXPECT_EQ(controller_->Urls().size(), 3u);
    Stop();

    // Without a key, a list with no metadata at all is taken as it is.
    Serve("unsigned", list, "");
    publicKey_.clear();
    Start("unsigned");
    ASSERT_TRUE(ReachReady());
    EXPECT_FALSE(view_.quit) << testing::PrintToString(view_.Texts());
    EXPECT_EQ(controller_->Urls().size(), 3u);
    EXPECT_EQ(controller_->Release(), nullptr);
    EXPECT_EQ(Requests(std::string("unsigned") + kReleaseMetadataSuffix), 0);
}

}  // namespace
