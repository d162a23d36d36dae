// The single-instance name, its file names, and the flock behind it.
#include <gtest/gtest.h>

#include <string>

#include "launcher/core/CInstanceLock.h"
#include "launcher/core/InstanceName.h"
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
