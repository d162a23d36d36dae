// Private folders and handle-relative file work against another user of the
// machine (nobody), who can write into the shared temporary folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/Directory.h"
#include "platform/PrivateFolder.h"
#include "support/OtherUser.h"
#include "support/TempDir.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Whether nobody can create a file in folder.
bool NobodyCanWriteIn(const std::string& folder) {
    return tvxtest::RunAsNobody([&] {
        const int fd = ::open((folder + "planted").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        return fd >= 0;
    });
}

TEST(PrivateFolderTest, TempFolderWithoutRuntimeDirIsMadeFreshAndPrivate) {
    tvxtest::SharedTempDir shared;
    ASSERT_FALSE(shared.Path().empty());
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", shared.Path().c_str(), 1);
    // Another user takes every name the folder had before.
    ASSERT_TRUE(tvxtest::RunAsNobody([&] {
        return ::mkdir((shared.Path() + "halvard2").c_str(), 0777) == 0 &&
               ::mkdir((shared.Path() + "tvx").c_str(), 0777) == 0;
    }));
    const std::string folder = platform::PrivateTempFolder();
    ASSERT_EQ(folder.rfind(shared.Path() + "tvx-", 0), 0u) << folder;
    EXPECT_EQ(platform::PrivateTempFolder(), folder);  // once per process
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_TRUE(platform::IsPrivateFolder(folder));
    EXPECT_FALSE(NobodyCanWriteIn(folder));
}

TEST(PrivateFolderTest, ARuntimeDirOthersCanWriteIsNotUsed) {
    tvxtest::SharedTempDir shared;
    tvxtest::TempDir cache;
    ::setenv("XDG_RUNTIME_DIR", shared.Path().c_str(), 1);
    // A cache folder that does not exist yet is made.
    ::setenv("XDG_CACHE_HOME", (cache.Path() + "not/yet").c_str(), 1);
    EXPECT_FALSE(platform::IsPrivateFolder(shared.Path()));
    const std::string folder = platform::UserRuntimeFolder();
    EXPECT_EQ(folder, cache.Path() + "not/yet/TVXDownload/");
    EXPECT_EQ(ModeOf(folder), 0700u);
    // The same folder for every process of the user.
    EXPECT_EQ(platform::UserRuntimeFolder(), folder);
}

TEST(PrivateFolderTest, ARuntimeDirOfOursIsUsed) {
    tvxtest::TempDir runtime;
    ASSERT_EQ(::chmod(runtime.Path().c_str(), 0700), 0);
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    EXPECT_EQ(platform::UserRuntimeFolder(), runtime.Path());
    EXPECT_EQ(platform::PrivateTempFolder(), runtime.Path());
}

TEST(PrivateFolderTest, FoldersOfOthersAndLinksAreNotPrivate) {
    tvxtest::SharedTempDir shared;
    tvxtest::TempDir mine;
    ASSERT_TRUE(tvxtest::RunAsNobody(
        [&] { return ::mkdir((shared.Path() + "theirs").c_str(), 0700) == 0; }));
    ASSERT_EQ(::symlink(mine.Path().c_str(), (shared.Path() + "link").c_str()), 0);
    EXPECT_FALSE(platform::IsPrivateFolder(shared.Path() + "theirs/"));
    EXPECT_FALSE(platform::IsPrivateFolder(shared.Path() + "link/"));
    EXPECT_TRUE(platform::IsPrivateFolder(mine.Path()));

    const platform::Directory parent = platform::Directory::Open(shared.Path());
    ASSERT_TRUE(parent.IsValid());
    EXPECT_FALSE(parent.IsPrivate());
    const platform::Directory theirs = parent.Subfolder("theirs", true);
    ASSERT_TRUE(theirs.IsValid());
    EXPECT_FALSE(theirs.IsPrivate());
    EXPECT_FALSE(parent.Subfolder("link", true).IsValid());
    const platform::Directory made = parent.Subfolder("made", true);
    ASSERT_TRUE(made.IsValid());
    EXPECT_TRUE(made.IsPrivate());
    EXPECT_EQ(ModeOf(shared.Path() + "made"), 0700u);
}

// Work relative to a handle touches nothing a link points to: a mode change
// goes to the file checked, a new file replaces the link, and a removal of
// a tree removes links but not their targets.
TEST(PrivateFolderTest, HandleRelativeWorkNeverFollowsALink) {
    tvxtest::TempDir dir;
    const std::string victim = dir.Path() + "victim";
    ASSERT_TRUE(tvxtest::WriteFile(victim, "mine"));
    ASSERT_EQ(::chmod(victim.c_str(), 0400), 0);
    ASSERT_TRUE(tvxtest::MakeDirs(dir.Path() + "work/sub"));
    ASSERT_EQ(::symlink(victim.c_str(), (dir.Path() + "work/pic.jpg").c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), (dir.Path() + "work/sub/pic.jpg").c_str()), 0);
    const platform::Directory work = platform::Directory::Open(dir.Path() + "work");
    ASSERT_TRUE(work.IsValid());

    EXPECT_FALSE(work.MakeWritable("pic.jpg"));
    EXPECT_EQ(ModeOf(victim), 0400u);
    platform::FileHandle file = work.CreateFile("pic.jpg", 0644);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file.Write("new", 3));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(tvxtest::ReadFile(victim), "mine");
    EXPECT_EQ(tvxtest::ReadFile(dir.Path() + "work/pic.jpg"), "new");
    // A read-only file of ours is made writable, and then replaced.
    ASSERT_EQ(::chmod((dir.Path() + "work/pic.jpg").c_str(), 0444), 0);
    EXPECT_FALSE(work.CreateFile("pic.jpg", 0644).IsValid());
    EXPECT_TRUE(work.MakeWritable("pic.jpg"));
    EXPECT_EQ(ModeOf(dir.Path() + "work/pic.jpg"), 0644u);
    EXPECT_TRUE(work.MakeWritable("missing.jpg"));
    for (const char* bad : {"", ".", "..", "a/b"})
        EXPECT_FALSE(work.CreateFile(bad, 0644).IsValid()) << bad;

    const platform::Directory top = platform::Directory::Open(dir.Path());
    EXPECT_TRUE(top.RemoveTree("work"));
    EXPECT_FALSE(platform::IsPrivateFolder(dir.Path() + "work"));
    EXPECT_EQ(tvxtest::ReadFile(victim), "mine");
    EXPECT_EQ(ModeOf(victim), 0400u);
}

}  // namespace
