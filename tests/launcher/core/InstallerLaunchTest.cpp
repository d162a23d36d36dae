// The installer launch with real files: a script and a program downloaded
// without an execute bit are started directly, anything else goes to a
// stand-in xdg-open first on PATH that records its call.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "launcher/core/CInstanceLock.h"
#include "launcher/core/InstallerLaunch.h"
#include "support/TempDir.h"

using namespace launcher;

namespace {

struct RecordingBox : IMessageBox {
    std::vector<std::string> texts;
    std::string caption;
    MessageAnswer Show(std::string_view c, std::string_view text, MessageButtons) override {
        caption = c;
        texts.emplace_back(text);
        return MessageAnswer::kOk;
    }
};

int ExitStatusOf(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool OwnerMayExecute(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

class InstallerLaunchTest : public testing::Test {
  protected:
    void SetUp() override {
        // A stand-in opener: records its arguments, exits with $OPENER_STATUS.
        const std::string bin = dir_.Path() + "bin/";
        ASSERT_TRUE(tvxtest::MakeDirs(bin));
        ASSERT_TRUE(tvxtest::WriteFile(bin + "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"" +
                                                             Record() +
                                                             "\"\nexit ${OPENER_STATUS:-0}\n"));
        ASSERT_EQ(chmod((bin + "xdg-open").c_str(), 0755), 0);
        oldPath_ = getenv("PATH");
        setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        unsetenv("OPENER_STATUS");
    }
    std::string Record() const { return dir_.Path() + "opener.txt"; }
    // Written like a download: plain read-write, no execute bit.
    std::string Downloaded(const std::string& name, const std::string& content) {
        const std::string path = dir_.Path() + name;
        EXPECT_TRUE(tvxtest::WriteFile(path, content));
        EXPECT_EQ(chmod(path.c_str(), 0644), 0);
        return path;
    }

    tvxtest::TempDir dir_;
    std::string oldPath_;
    RecordingBox box_;
};

}  // namespace

TEST(InstallerKindTest, ByFirstBytes) {
    EXPECT_EQ(ClassifyInstaller(std::string_view("\x7f"
                                                 "ELF\x02\x01",
                                                 6)),
              InstallerKind::kElf);
    EXPECT_EQ(ClassifyInstaller("#!/bin/sh\n"), InstallerKind::kScript);
    EXPECT_EQ(ClassifyInstaller("#!"), InstallerKind::kScript);
    EXPECT_EQ(ClassifyInstaller("MZ\x90"), InstallerKind::kOther);  // a Windows program
    EXPECT_EQ(ClassifyInstaller("\x7f"
                                "EL"),
              InstallerKind::kOther);
    EXPECT_EQ(ClassifyInstaller("#"), InstallerKind::kOther);
    EXPECT_EQ(ClassifyInstaller(""), InstallerKind::kOther);
}

TEST_F(InstallerLaunchTest, EmptyOrMissingPathShowsTheMissingFileMessage) {
    EXPECT_FALSE(LaunchInstaller("", "Halvard2", box_));
    const std::string deleted = Downloaded("setup.exe", "MZ");
    ASSERT_EQ(unlink(deleted.c_str()), 0);
    EXPECT_FALSE(LaunchInstaller(deleted, "Halvard2", box_));
    EXPECT_FALSE(LaunchInstaller(dir_.Path(), "Halvard2", box_));  // a folder is no installer
    // Nor a link, wherever it leads.
    const std::string script = Downloaded("real.sh", "#!/bin/sh\ntouch \"$0.ran\"\n");
    const std::string link = dir_.Path() + "link.sh";
    ASSERT_EQ(symlink(script.c_str(), link.c_str()), 0);
    EXPECT_FALSE(LaunchInstaller(link, "Halvard2", box_));
    ASSERT_EQ(box_.texts.size(), 4u);
    EXPECT_EQ(box_.texts[0], "해당 경로(NULL)에 파일이 존재 하지 않습니다.");
    EXPECT_EQ(box_.texts[1], "해당 경로(" + deleted + ")에 파일이 존재 하지 않습니다.");
    EXPECT_EQ(box_.caption, "Halvard2");
    EXPECT_EQ(tvxtest::ReadFile(Record()), "");  // nothing was opened
    EXPECT_EQ(tvxtest::ReadFile(script + ".ran"), "");
}

TEST_F(InstallerLaunchTest, ScriptWithoutExecuteBitIsStartedDirectlyAndRuns) {
    const std::string marker = dir_.Path() + "ran.txt";
    const std::string script =
        Downloaded("install.sh", "#!/bin/sh\necho \"$0\" > \"" + marker + "\"\n");
    pid_t pid = -1;
    ASSERT_TRUE(LaunchInstaller(script, "Halvard2", box_, &pid));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ExitStatusOf(pid), 0);
    EXPECT_EQ(tvxtest::ReadFile(marker), script + "\n");
    EXPECT_TRUE(OwnerMayExecute(script));
    EXPECT_EQ(tvxtest::ReadFile(Record()), "");
    EXPECT_TRUE(box_.texts.empty());
}

TEST_F(InstallerLaunchTest, ProgramWithoutExecuteBitIsStartedDirectly) {
    const std::string program = Downloaded("installer", tvxtest::ReadFile("/bin/true"));
    ASSERT_FALSE(OwnerMayExecute(program));
    pid_t pid = -1;
    ASSERT_TRUE(LaunchInstaller(program, "Halvard2", box_, &pid));
    EXPECT_EQ(ExitStatusOf(pid), 0);
    EXPECT_EQ(tvxtest::ReadFile(Record()), "");
}

TEST_F(InstallerLaunchTest, OtherFilesGoToTheOpener) {
    const std::string exe = Downloaded("Halvard2 Setup.exe", "MZ\x90\x00 windows program");
    pid_t pid = 0;
    EXPECT_TRUE(LaunchInstaller(exe, "Halvard2", box_, &pid));
    EXPECT_EQ(pid, -1);
    EXPECT_EQ(tvxtest::ReadFile(Record()), exe + "\n");  // one argument, spaces and all
    EXPECT_FALSE(OwnerMayExecute(exe));
}

TEST_F(InstallerLaunchTest, RefusedStartsGiveFalseWithoutMessage) {
    // The opener finds no handler.
    setenv("OPENER_STATUS", "3", 1);
    EXPECT_FALSE(LaunchInstaller(Downloaded("manual.pdf", "%PDF-1.4"), "Halvard2", box_));
    // A script whose interpreter does not exist.
    EXPECT_FALSE(LaunchInstaller(Downloaded("bad.sh", "#!/nonexistent/sh\n"), "Halvard2", box_));
    EXPECT_TRUE(box_.texts.empty());
}

TEST_F(InstallerLaunchTest, InstallerDoesNotInheritTheSingleInstanceLock) {
    const std::string lockPath = dir_.Path() + "instance.lock";
    auto lock = std::make_unique<CInstanceLock>();
    ASSERT_EQ(lock->Acquire(lockPath), LockResult::kAcquired);
    pid_t pid = -1;
    ASSERT_TRUE(
        LaunchInstaller(Downloaded("slow.sh", "#!/bin/sh\nsleep 10\n"), "Halvard2", box_, &pid));
    // The launcher ends while its installer still runs: the name is free.
    // (Right after the spawn the child may still hold our descriptors for a
    // moment, until its exec has closed them; an inherited lock would stay
    // for the installer's whole run.)
    lock.reset();
    LockResult next = LockResult::kHeld;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (next != LockResult::kAcquired && std::chrono::steady_clock::now() < deadline) {
        CInstanceLock again;
        next = again.Acquire(lockPath);
        if (next != LockResult::kAcquired)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(next, LockResult::kAcquired);
    kill(pid, SIGKILL);
    ExitStatusOf(pid);
}
