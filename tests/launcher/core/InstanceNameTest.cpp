// The single-instance name, its file names, and the flock behind it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "launcher/core/CInstanceLock.h"
#include "launcher/core/InstanceName.h"
#include "platform/PrivateFolder.h"
#include "support/OtherUser.h"
#include "support/TempDir.h"

using namespace launcher;

TEST(InstanceNameTest, NameIsCutAt260Characters) {
    EXPECT_EQ(SingleInstanceName("http://h/fullinst/filelist.txt"),
              "TVXDownloadV3::http://h/fullinst/filelist.txt");
    const std::string prefix = "http://h/" + std::string(300, 'p');
    EXPECT_EQ(SingleInstanceName(prefix).size(), 260u);
    // Beyond the 260th character URLs no longer tell launchers apart.
    EXPECT_EQ(InstanceKey(SingleInstanceName(prefix + "/a.txt"), 1000),
              InstanceKey(SingleInstanceName(prefix + "/b.txt"), 1000));
    EXPECT_NE(InstanceKey(SingleInstanceName("http://h/a.txt"), 1000),
              InstanceKey(SingleInstanceName("http://h/b.txt"), 1000));
    EXPECT_NE(InstanceKey("same", 1000), InstanceKey("same", 1001));
}

TEST(InstanceNameTest, FilesInTheRuntimeFolder) {
    const std::string key = InstanceKey("TVXDownloadV3::x", 0);
    EXPECT_EQ(key.rfind("TVXDownloadV3-0-", 0), 0u);
    EXPECT_EQ(key.size(), std::string("TVXDownloadV3-0-").size() + 16);
    EXPECT_EQ(InstanceLockPath("/run/user/0", key), "/run/user/0/" + key + ".lock");
    EXPECT_EQ(InstanceSocketPath("/run/user/0/", key), "/run/user/0/" + key + ".sock");
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstGoes) {
    tvxtest::TempDir dir;
    const std::string path = dir.Path() + "x.lock";
    {
        CInstanceLock first;
        ASSERT_EQ(first.Acquire(path), LockResult::kAcquired);
        EXPECT_TRUE(first.Held());
        CInstanceLock second;
        EXPECT_EQ(second.Acquire(path), LockResult::kHeld);
        EXPECT_FALSE(second.Held());
    }
    CInstanceLock later;
    EXPECT_EQ(later.Acquire(path), LockResult::kAcquired);
    CInstanceLock nowhere;
    EXPECT_EQ(nowhere.Acquire(dir.Path() + "no/such/folder.lock"), LockResult::kFailed);
}

// Without a private runtime folder (here: one that every user may write, like
// /tmp) the lock goes to a private folder of the user's own, never to a name
// in a shared folder: another user who holds the lock file of that name
// keeps no launcher out, and cannot put anything into the folder used.
TEST(InstanceLockTest, AnotherUserCannotBlockTheLock) {
    tvxtest::SharedTempDir shared;
    tvxtest::TempDir cache;
    ASSERT_FALSE(shared.Path().empty());
    ::setenv("XDG_RUNTIME_DIR", shared.Path().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    const std::string key = InstanceKey(SingleInstanceName("http://h/filelist.txt"), ::geteuid());
    tvxtest::NobodyProcess squatter([&] {
        const std::string path = InstanceLockPath(shared.Path(), key);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    });
    ASSERT_TRUE(squatter.Ready());
    const std::string folder = platform::UserRuntimeFolder();
    ASSERT_EQ(folder, cache.Path() + "TVXDownload/");
    CInstanceLock lock;
    EXPECT_EQ(lock.Acquire(InstanceLockPath(folder, key)), LockResult::kAcquired);
    EXPECT_FALSE(tvxtest::RunAsNobody([&] {
        return ::open(InstanceLockPath(folder, key).c_str(), O_RDONLY) >= 0 ||
               ::open((folder + "planted").c_str(), O_WRONLY | O_CREAT, 0644) >= 0;
    }));
    // A path in no folder at all is no lock.
    CInstanceLock relative;
    EXPECT_EQ(relative.Acquire(key + ".lock"), LockResult::kFailed);
}
