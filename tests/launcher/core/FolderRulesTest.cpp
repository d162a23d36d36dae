// The folder rules as tables, and the folder button's flow with a scripted
// browser in place of the dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "launcher/core/FolderChooser.h"
#include "launcher/core/FolderPlaces.h"
#include "launcher/core/FolderRules.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

using namespace launcher;

namespace {

// "/" followed by n - 2 letters and "/": a folder of exactly n characters.
std::string FolderOfLength(size_t n) {
    return "/" + std::string(n - 2, 'd') + "/";
}

struct RecordingBox : IMessageBox {
    struct Call {
        std::string caption, text;
    };
    std::vector<Call> calls;
    MessageAnswer Show(std::string_view caption, std::string_view text, MessageButtons) override {
        calls.push_back({std::string(caption), std::string(text)});
        return MessageAnswer::kOk;
    }
};

struct ScriptedBrowser : IFolderBrowser {
    std::optional<std::string> answer;
    std::string initial;
    int64_t total = -1;
    std::optional<std::string> Browse(const std::string& initialFolder,
                                      int64_t totalSize) override {
        initial = initialFolder;
        total = totalSize;
        return answer;
    }
};

}  // namespace

TEST(FolderRulesTest, PlacesBelowProgramAndHome) {
    EXPECT_EQ(EnginePath("/opt/Velmora/"), "/opt/Velmora/TVXDownloader/TVXDownloaderEngine.exe");
    EXPECT_EQ(EnginePath("/opt/Velmora"), "/opt/Velmora/TVXDownloader/TVXDownloaderEngine.exe");
    EXPECT_EQ(FolderOfPath(EnginePath("/opt/Velmora/")), "/opt/Velmora/TVXDownloader/");
    EXPECT_EQ(FolderOfPath("no-folder"), "");
    EXPECT_EQ(DefaultDownloadFolder("/home/u/", "halvard2"), "/home/u/Download/halvard2/");
    EXPECT_EQ(DefaultDownloadFolder("/home/u", "halvard2"), "/home/u/Download/halvard2/");
    // The test main points $HOME into its own folder.
    EXPECT_EQ(DefaultDownloadFolderFor("halvard2"),
              std::string(getenv("HOME")) + "/Download/halvard2/");
}

TEST(FolderRulesTest, LengthRuleUsesLongestFileNameButAtLeast32) {
    const std::vector<std::string> shortNames = {"http://h/a/0123456789", "http://h/b/x.exe"};
    EXPECT_EQ(LongestFileName(shortNames), 32u);
    EXPECT_EQ(LongestFileName({}), 32u);
    EXPECT_FALSE(PathTooLong(FolderOfLength(217), shortNames));  // 217 + 32 + 1 = 250
    EXPECT_TRUE(PathTooLong(FolderOfLength(218), shortNames));

    const std::string name40(40, 'n');
    const std::vector<std::string> longName = {"http://h/" + name40};
    EXPECT_EQ(LongestFileName(longName), 40u);
    EXPECT_FALSE(PathTooLong(FolderOfLength(209), longName));
    EXPECT_TRUE(PathTooLong(FolderOfLength(210), longName));
    // Without any "/" the whole URL is the name.
    EXPECT_EQ(LongestFileName({std::string(50, 'z')}), 50u);
    EXPECT_EQ(LongestFileName({"http://h/dir/"}), 32u);
}

TEST(FolderRulesTest, ForbiddenFolders) {
    const std::string engine = "/opt/Velmora/TVXDownloader/";
    struct Case {
        const char* folder;
        bool forbidden;
    };
    const Case cases[] = {
        {"/", true},
        {"/usr/", true},
        {"/usr/local/games/", true},
        {"/etc/", true},
        {"/bin/", true},
        {"/sbin/", true},
        {"/lib/x86_64-linux-gnu/", true},
        {"/boot/", true},
        {"/proc/1/", true},
        {"/sys/", true},
        {"/dev/shm/", true},
        {"/opt/Velmora/TVXDownloader/", true},  // the engine's folder
        {"relative/", true},
        {"", true},
        // Siblings whose names merely start like a system folder.
        {"/usrOld/", false},
        {"/etcetera/", false},
        {"/libexec/", false},
        {"/binaries/", false},
        // Exact and case-sensitive: other spellings are other folders.
        {"/USR/", false},
        {"/opt/Velmora/", false},
        {"/opt/Velmora/TVXDownloader/games/", false},
        {"/home/user/Download/halvard2/", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsForbiddenFolder(c.folder, engine), c.forbidden) << c.folder;
}

TEST(FolderRulesTest, LengthIsCheckedBeforeTheForbiddenFolders) {
    const std::vector<std::string> urls = {"http://h/setup.exe"};
    EXPECT_EQ(CheckChosenFolder("/usr/" + std::string(300, 'x') + "/", urls, ""),
              FolderVerdict::kTooLong);
    EXPECT_EQ(CheckChosenFolder("/usr/", urls, ""), FolderVerdict::kForbidden);
    EXPECT_EQ(CheckChosenFolder("/srv/games/", urls, ""), FolderVerdict::kAccepted);
}

class ChooseFolderTest : public testing::Test {
  protected:
    FolderChoiceInput Input(const std::string& current) {
        FolderChoiceInput input;
        input.currentFolder = current;
        input.totalSize = 3 * 1024 * 1024;
        input.urls = &urls_;
        input.engineFolder = dir_.Path() + "engine/";
        input.caption = "Halvard2";
        return input;
    }

    tvxtest::TempDir dir_;
    std::vector<std::string> urls_ = {"http://h/fullinst/setup.exe"};
    ScriptedBrowser browser_;
    RecordingBox box_;
};

TEST_F(ChooseFolderTest, CancelKeepsTheFolderAndCreatesTheCurrentOne) {
    const std::string current = dir_.Path() + "games/";
    browser_.answer = std::nullopt;
    EXPECT_EQ(ChooseFolder(Input(current), browser_, box_), std::nullopt);
    EXPECT_TRUE(platform::IsDirectory(current));
    EXPECT_EQ(browser_.initial, current);
    EXPECT_EQ(browser_.total, 3 * 1024 * 1024);
    EXPECT_TRUE(box_.calls.empty());
}

TEST_F(ChooseFolderTest, OnlyOneLevelOfTheCurrentFolderIsCreated) {
    const std::string current = dir_.Path() + "missing/games/";
    EXPECT_EQ(ChooseFolder(Input(current), browser_, box_), std::nullopt);
    EXPECT_FALSE(platform::PathExists(dir_.Path() + "missing"));
}

TEST_F(ChooseFolderTest, AcceptedSelectionGetsItsSlash) {
    browser_.answer = dir_.Path() + "elsewhere";
    EXPECT_EQ(ChooseFolder(Input(dir_.Path()), browser_, box_), dir_.Path() + "elsewhere/");
    EXPECT_TRUE(box_.calls.empty());
}

TEST_F(ChooseFolderTest, RefusalsShowTheirMessageAndKeepTheFolder) {
    const std::string engineFolder = dir_.Path() + "engine";
    const std::string tooLong = FolderOfLength(218);
    const std::string* selections[] = {&tooLong, &engineFolder};
    const char* texts[] = {kPathTooLongText, kForbiddenPathText};
    for (int i = 0; i < 2; ++i) {
        box_.calls.clear();
        browser_.answer = *selections[i];
        EXPECT_EQ(ChooseFolder(Input(dir_.Path()), browser_, box_), std::nullopt);
        ASSERT_EQ(box_.calls.size(), 1u);
        EXPECT_EQ(box_.calls[0].caption, "Halvard2");
        EXPECT_EQ(box_.calls[0].text, texts[i]);
    }
    box_.calls.clear();
    browser_.answer = "/";
    EXPECT_EQ(ChooseFolder(Input(dir_.Path()), browser_, box_), std::nullopt);
    ASSERT_EQ(box_.calls.size(), 1u);
    EXPECT_EQ(box_.calls[0].text, kForbiddenPathText);
}

TEST_F(ChooseFolderTest, LinkToASystemFolderIsRefused) {
    ASSERT_EQ(symlink("/usr/share", (dir_.Path() + "share").c_str()), 0);
    browser_.answer = dir_.Path() + "share/games";
    EXPECT_EQ(ChooseFolder(Input(dir_.Path()), browser_, box_), std::nullopt);
    ASSERT_EQ(box_.calls.size(), 1u);
    EXPECT_EQ(box_.calls[0].text, kForbiddenPathText);
}

TEST(FolderPlacesTest, ResolvedFolderFollowsLinksAndKeepsTheMissingRest) {
    tvxtest::TempDir dir;
    const std::string real = ResolvedFolder(dir.Path());
    ASSERT_FALSE(real.empty());
    ASSERT_EQ(symlink(real.c_str(), (dir.Path() + "link").c_str()), 0);
    EXPECT_EQ(ResolvedFolder(dir.Path() + "link"), real);
    EXPECT_EQ(ResolvedFolder(dir.Path() + "link/not/yet/"), real + "not/yet/");
    EXPECT_EQ(ResolvedFolder("/"), "/");
}

TEST(FolderChooserTest, TitleAndStatusLine) {
    EXPECT_EQ(ChooserTitle(1536), "최소 1.50 KB의 용량이 필요합니다.\n");
    EXPECT_EQ(ChooserStatus(1536, 3LL * 1024 * 1024 * 1024),
              "최소 1.50 KB의 용량이 필요합니다.\n남은용량 : 3.00 GB");
}
