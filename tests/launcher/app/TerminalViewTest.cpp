// tvx-launcher on a terminal, scripted through a pipe: against the demo
// content (nginx serving the demo game, the skin and the installer, in a
// network namespace of the test's own so that the built-in port is free), it
// downloads the game, takes "y" to the completion question and runs the
// installer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "launcher/app/CTerminalView.h"
#include "launcher/core/SkinPackage.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// A child in a process group of its own with its standard input and output
// on pipes; the group is ended when the object goes.
class PipedChild {
  public:
    explicit PipedChild(const std::string& script) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
            ::execl("/usr/bin/unshare", "unshare", "-n", "/bin/bash", "-c", script.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~PipedChild() {
        CloseInput();
        if (pid_ > 0 && !reaped_) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }

    void Write(const std::string& line) const {
        ASSERT_EQ(::write(in_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    void CloseInput() {
        if (in_ >= 0)
            ::close(in_);
        in_ = -1;
    }
    // Reads until the output holds text or ends, at most timeout.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fd{out_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                ended_ = true;
                return output_.find(text) != std::string::npos;
            }
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    // The exit status after the output ended, or -1. The child may still be on
    // its way out when its output ends, so the wait for it then blocks.
    int Wait(std::chrono::milliseconds timeout) {
        WaitFor(std::string(1, '\0'), timeout);  // reads to the end of output
        int status = 0;
        if (!ended_ || ::waitpid(pid_, &status, 0) != pid_)
            return -1;
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool Started() const { return pid_ > 0; }
    const std::string& Output() const { return output_; }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    bool ended_ = false;
    std::string output_;
};

// The status on a clock of the test's own: at most one line a second, the
// newest state once the second is up, and the final state before a question.
TEST(TerminalView, StatusLinesAreThrottledButTheNewestStateIsNeverLost) {
    platform::ScopedManualClock clock;
    int input[2];
    ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = ::open_memstream(&text, &length);
    ASSERT_NE(out, nullptr);
    const auto output = [&] {
        std::fflush(out);
        return std::string(text, length);
    };
    launcher::DownloaderConfig config;
    config.gameTitle = "Halvard2";
    {
        launcher::CTerminalView view(config, input[0], out);
        view.ApplySkin(launcher::UnpackedSkin{});
        const auto state = [](const std::string& percent) {
            launcher::DisplayStrings s;
            s.currentFile = "[1/1]a.bin";
            s.percent = percent;
            return s;
        };
        // The percent of every status line so far.
        const auto lines = [&] {
            std::string status;
            std::istringstream stream(output());
            for (std::string line; std::getline(stream, line);) {
                if (line.rfind("[1/1]a.bin", 0) == 0)
                    status += line.substr(line.rfind(' ') + 1) + " ";
            }
            return status;
        };

        view.Refresh(state("10%"));
        EXPECT_EQ(lines(), "10% ");
        EXPECT_EQ(view.MsUntilStatusDue(), -1);
        // Two newer states within the second: the newest waits for it.
        clock->Advance(400);
        view.Refresh(state("20%"));
        clock->Advance(300);
        view.Refresh(state("30%"));
        EXPECT_EQ(lines(), "10% ");
        EXPECT_EQ(view.MsUntilStatusDue(), 300);
        clock->Advance(299);
        view.PrintDueStatus();
        EXPECT_EQ(lines(), "10% ");
        clock->Advance(1);
        EXPECT_EQ(view.MsUntilStatusDue(), 0);
        view.PrintDueStatus();
        EXPECT_EQ(lines(), "10% 30% ");
        EXPECT_EQ(view.MsUntilStatusDue(), -1);
        // An unchanged state prints nothing, and a state a second later at once.
        clock->Advance(1000);
        view.Refresh(state("30%"));
        EXPECT_EQ(lines(), "10% 30% ");
        view.Refresh(state("40%"));
        EXPECT_EQ(lines(), "10% 30% 40% ");

        // The final state comes just before a question: it is shown first.
        clock->Advance(10);
        view.Refresh(state("99%"));
        ASSERT_EQ(::write(input[1], "n\n", 2), 2);
        EXPECT_EQ(view.MessageBox().Show("Halvard2", "지금 실행 하시겠습니까?",
                                         launcher::MessageButtons::kYesNo),
                  launcher::MessageAnswer::kNo);
        EXPECT_EQ(lines(), "10% 30% 40% 99% ");
        EXPECT_NE(output().find("99%\n[Halvard2] 지금 실행 하시겠습니까?"), std::string::npos)
            << output();
    }
    std::fclose(out);
    std::free(text);
    ::close(input[0]);
    ::close(input[1]);
}

TEST(TerminalView, DownloadsTheDemoGameThroughAPipeAndRunsTheInstaller) {
    // The test needs a network namespace of its own (root, util-linux's unshare).
    ASSERT_EQ(std::system("unshare -n true"), 0) << "cannot make a network namespace";
    tvxtest::TempDir dir("tvx-terminal-");
    const std::string work = dir.Path();
    ASSERT_EQ(
        std::system(
            (std::string(TVX_SKIN_MAKER) + " --out '" + work + "skin' >/dev/null 2>&1").c_str()),
        0);
    const std::string script =
        "set -e\n"
        "ip link set lo up\n"
        // Only loopback would read as "no network": a link of our own that
        // nothing is sent to.
        "ip link add tvx0 type veth peer name tvx1\n"
        "ip addr add 198.18.0.1/15 dev tvx0\n"
        "ip link set tvx1 up && ip link set tvx0 up\n"
        "bash '" TVX_DEMO_SERVER "' --dir '" +
        work + "server' --port 18080 --sizes 64K,1M " + "--skin '" + work +
        "skin/img.zip' --sign-key '" TVX_TEST_PUBLISHER_KEY "' --sign-tool '" TVX_SIGN_TOOL
        "' >'" +
        work + "server.out' 2>&1 &\n" + "for i in $(seq 400); do grep -q '^file list: ' '" + work +
        "server.out' && break; sleep 0.05; done\n"
        "set +e\n"
        "TVX_VIEW=terminal '" TVX_LAUNCHER_DEMO
        "'\n"
        "status=$?\n"
        "kill %1; wait\n"
        "exit $status\n";
    PipedChild launcher(script);
    ASSERT_TRUE(launcher.Started());

    // The refresh after the skin shows the folder and the first status line.
    ASSERT_TRUE(launcher.WaitFor("0 Bytes/Sec  00:00:00  00:00:00  0%\n", 30s))
        << launcher.Output();
    EXPECT_NE(launcher.Output().find("== Halvard2 =="), std::string::npos);
    EXPECT_NE(launcher.Output().find("skin: 22 files in "), std::string::npos);
    const std::string folder = platform::HomeFolder() + "Download/halvard2/";
    EXPECT_NE(launcher.Output().find("folder: " + folder + "\n"), std::string::npos);
    EXPECT_NE(launcher.Output().find("[1/3]Halvard2.part01.bin  0 Bytes / 1.06 MB  0 Bytes/Sec"),
              std::string::npos)
        << launcher.Output();
    launcher.Write("start\n");

    ASSERT_TRUE(
        launcher.WaitFor("다운로드가 완료 되었습니다.\n지금 실행 하시겠습니까?\n(y/n) ", 30s))
        << launcher.Output();
    // The completed state is on the screen when the question is asked.
    EXPECT_NE(launcher.Output().find("00:00:00  100%\n[Halvard2] 다운로드가 완료 되었습니다."),
              std::string::npos)
        << launcher.Output();
    launcher.Write("maybe\n");  // asked again
    launcher.Write("y\n");
    ASSERT_TRUE(
        launcher.WaitFor("the game is installed in " + folder.substr(0, folder.size() - 1), 30s))
        << launcher.Output();
    EXPECT_NE(launcher.Output().find("maybe\n(y/n) y\n"), std::string::npos) << launcher.Output();
    EXPECT_NE(launcher.Output().find("안내 : 다운로드 받은 파일을 검사하고 설치를 실행합니다."),
              std::string::npos);
    launcher.CloseInput();
    EXPECT_EQ(launcher.Wait(20s), 0) << launcher.Output();

    for (const char* name : {"Halvard2.part01.bin", "Halvard2.part02.bin", "Halvard2Setup.exe"}) {
        const std::string served = tvxtest::ReadFile(work + "server/www/fullinst/" + name);
        EXPECT_FALSE(served.empty()) << name;
        EXPECT_TRUE(tvxtest::ReadFile(folder + name) == served) << name;
    }
}

}  // namespace
