// The skin package on disk: its folder, the numbered fall-backs and the
// read-only pictures of an earlier run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "launcher/core/SkinPackage.h"
#include "platform/PrivateFolder.h"
#include "support/OtherUser.h"
#include "support/TempDir.h"

namespace {

std::string Zip(const std::string& dir, const std::string& command) {
    EXPECT_EQ(std::system(("cd '" + dir + "' && " + command).c_str()), 0) << command;
    return tvxtest::ReadFile(dir + "p.zip");
}

class SkinPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir((dir_.Path() + "src").c_str(), 0755), 0);
        ASSERT_TRUE(tvxtest::WriteFile(dir_.Path() + "src/bk_main.jpg", "new background"));
        ASSERT_TRUE(tvxtest::WriteFile(dir_.Path() + "src/btn_stop.jpg", "stop"));
        package_ = Zip(dir_.Path() + "src/", "zip -q -X p.zip bk_main.jpg btn_stop.jpg");
        temp_ = dir_.Path() + "tmp/";
        ASSERT_EQ(::mkdir(temp_.c_str(), 0755), 0);
    }
    launcher::UnpackedSkin Unpack(const std::string& bytes, std::string_view gameId = "halvard2") {
        return launcher::UnpackSkinPackage(bytes.data(), static_cast<int64_t>(bytes.size()), temp_,
                                           gameId);
    }

    tvxtest::TempDir dir_{"tvx-skin-"};
    std::string package_;
    std::string temp_;
};

TEST_F(SkinPackageTest, FolderNames) {
    EXPECT_EQ(launcher::SkinFolder(temp_, "halvard2"), temp_ + "halvard2/");
    EXPECT_EQ(launcher::SkinFolder(temp_, ""), temp_ + "velmora/");
    // Without a usable folder: the process's private one.
    const std::string temp = platform::PrivateTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(launcher::SkinFolder("", "g"), temp + "g/");
    EXPECT_EQ(launcher::SkinFolder(dir_.Path() + "missing/", "g"), temp + "g/");
}

TEST_F(SkinPackageTest, UnpacksOverAReadOnlyPictureOfAnEarlierRun) {
    const std::string folder = temp_ + "halvard2/";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(tvxtest::WriteFile(folder + "bk_main.jpg", "old background"));
    ASSERT_EQ(::chmod((folder + "bk_main.jpg").c_str(), 0444), 0);

    const launcher::UnpackedSkin skin = Unpack(package_);
    EXPECT_EQ(skin.folder, folder);
    EXPECT_EQ(skin.entries, (std::vector<std::string>{"bk_main.jpg", "btn_stop.jpg"}));
    EXPECT_EQ(tvxtest::ReadFile(folder + "bk_main.jpg"), "new background");
}

TEST_F(SkinPackageTest, FallsBackToNumberedFoldersAndKeepsTheLastWhenAllFail) {
    // The first folder is taken by a file: unpacking goes to "halvard20/".
    ASSERT_TRUE(tvxtest::WriteFile(temp_ + "halvard2", "in the way"));
    launcher::UnpackedSkin skin = Unpack(package_);
    EXPECT_EQ(skin.folder, temp_ + "halvard20/");
    EXPECT_EQ(tvxtest::ReadFile(temp_ + "halvard20/btn_stop.jpg"), "stop");

    // Bytes that are no zip fail everywhere: the last folder, no entries.
    skin = Unpack("not a zip at all");
    EXPECT_EQ(skin.folder, temp_ + "halvard24/");
    EXPECT_TRUE(skin.entries.empty());
    skin = Unpack("");
    EXPECT_EQ(skin.folder, temp_ + "halvard24/");
}

TEST_F(SkinPackageTest, AFolderThatIsASymbolicLinkIsNotUnpackedInto) {
    const std::string elsewhere = dir_.Path() + "elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), (temp_ + "halvard2").c_str()), 0);
    const launcher::UnpackedSkin skin = Unpack(package_);
    EXPECT_EQ(skin.folder, temp_ + "halvard20/");
    EXPECT_TRUE(tvxtest::ReadFile(elsewhere + "/bk_main.jpg").empty());
}

TEST_F(SkinPackageTest, PicturesInASubFolderKeepTheirPath) {
    ASSERT_EQ(::mkdir((dir_.Path() + "src/img").c_str(), 0755), 0);
    ASSERT_TRUE(tvxtest::WriteFile(dir_.Path() + "src/img/bk_main.jpg", "deep"));
    const launcher::UnpackedSkin skin =
        Unpack(Zip(dir_.Path() + "src/", "rm -f p.zip && zip -q -X p.zip img/bk_main.jpg"));
    EXPECT_EQ(skin.entries, std::vector<std::string>{"img/bk_main.jpg"});
    EXPECT_EQ(tvxtest::ReadFile(skin.folder + "img/bk_main.jpg"), "deep");
}

// Another user of the machine races for the skin folder in a shared
// temporary folder: they made every name the launcher could pick, each with
// a picture that is a link to a file of ours. Nothing of ours is written or
// has its mode changed, and no picture of theirs is loaded.
TEST_F(SkinPackageTest, FoldersTakenByAnotherUserAreNeverUsed) {
    tvxtest::SharedTempDir shared;
    ASSERT_FALSE(shared.Path().empty());
    const std::string victim = dir_.Path() + "secret";
    ASSERT_TRUE(tvxtest::WriteFile(victim, "mine"));
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    ASSERT_TRUE(tvxtest::RunAsNobody([&] {
        for (const char* name :
             {"halvard2", "halvard20", "halvard21", "halvard22", "halvard23", "halvard24"}) {
            const std::string folder = shared.Path() + name + "/";
            if (::mkdir(folder.c_str(), 0777) != 0 || ::chmod(folder.c_str(), 0777) != 0 ||
                ::symlink(victim.c_str(), (folder + "bk_main.jpg").c_str()) != 0 ||
                ::symlink(victim.c_str(), (folder + "btn_stop.jpg").c_str()) != 0)
                return false;
        }
        return true;
    }));
    const launcher::UnpackedSkin skin = launcher::UnpackSkinPackage(
        package_.data(), static_cast<int64_t>(package_.size()), shared.Path(), "halvard2");
    EXPECT_TRUE(skin.entries.empty());
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(tvxtest::ReadFile(victim), "mine");
}

// The default folder is the process's private one: made fresh when there is
// no runtime folder, so another user's folders of the old names do not
// matter, and nobody can put anything into it while the launcher works.
TEST_F(SkinPackageTest, DefaultFolderIsPrivateAndUnreachableForOthers) {
    tvxtest::SharedTempDir shared;
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", shared.Path().c_str(), 1);
    ASSERT_TRUE(tvxtest::RunAsNobody(
        [&] { return ::mkdir((shared.Path() + "halvard2").c_str(), 0777) == 0; }));
    const launcher::UnpackedSkin skin = launcher::UnpackSkinPackage(
        package_.data(), static_cast<int64_t>(package_.size()), "", "halvard2");
    ASSERT_EQ(skin.folder, platform::PrivateTempFolder() + "halvard2/");
    EXPECT_NE(skin.folder, shared.Path() + "halvard2/");
    EXPECT_EQ(skin.entries, (std::vector<std::string>{"bk_main.jpg", "btn_stop.jpg"}));
    EXPECT_EQ(tvxtest::ReadFile(skin.folder + "bk_main.jpg"), "new background");
    EXPECT_FALSE(tvxtest::RunAsNobody([&] {
        return ::symlink("/etc/passwd", (skin.folder + "btn_start.jpg").c_str()) == 0 ||
               ::unlink((skin.folder + "bk_main.jpg").c_str()) == 0;
    }));
}

// A package that unpacks to more than the skin's cap (one picture declaring
// it) is not unpacked: nothing of it is written.
TEST_F(SkinPackageTest, APackagePastTheCapIsNotUnpacked) {
    const std::string big = dir_.Path() + "big/";
    ASSERT_EQ(::mkdir(big.c_str(), 0755), 0);
    const std::string command = "head -c " + std::to_string(launcher::kMaxSkinUnpackBytes + 1) +
                                " /dev/zero > '" + big + "bk_main.jpg'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string bomb = Zip(big, "zip -q -X -1 p.zip bk_main.jpg && rm bk_main.jpg");
    ASSERT_LT(bomb.size(), 1u << 20);
    const launcher::UnpackedSkin skin = Unpack(bomb);
    EXPECT_EQ(skin.folder, temp_ + "halvard24/");
    for (const char* folder :
         {"halvard2/", "halvard20/", "halvard21/", "halvard22/", "halvard23/", "halvard24/"})
        EXPECT_NE(::access((temp_ + folder + "bk_main.jpg").c_str(), F_OK), 0) << folder;
}

}  // namespace
