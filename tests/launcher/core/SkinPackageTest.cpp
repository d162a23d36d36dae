// The skin package on disk: its folder, the numbered fall-backs and the
// read-only pictures of an earlier run.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "launcher/core/SkinPackage.h"
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
    EXPECT_EQ(launcher::SkinFolder("", "g"), "/tmp/g/");
    EXPECT_EQ(launcher::SkinFolder(dir_.Path() + "missing/", "g"), "/tmp/g/");
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

}  // namespace
