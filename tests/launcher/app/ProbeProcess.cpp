#include "ProbeProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

extern char** environ;

namespace tvxtest {
namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ProbeProcess::ProbeProcess(const std::string& url, const std::vector<std::string>& extraEnv) {
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0)
        return;
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]);
        close(inPipe[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.emplace_back("TVX_PROBE_SECONDS=20");  // never outlives a test for long
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = TVX_INSTANCE_PROBE;
    std::string arg = url;
    char* argv[] = {program.data(), arg.data(), nullptr};

    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(inPipe[0]);
    close(outPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
}

ProbeProcess::~ProbeProcess() {
    CloseInput();
    if (pid_ > 0 && WaitForExit(5000) == -1 && !reaped_) {
        kill(pid_, SIGKILL);
        WaitForExit(5000);
    }
    if (out_ >= 0)
        close(out_);
}

std::string ProbeProcess::NextLine(int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        const int64_t left = deadline - NowMs();
        if (ended_ || out_ < 0 || left <= 0)
            return {};
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char chunk[512];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0)
            ended_ = true;
        else
            buffered_.append(chunk, static_cast<size_t>(n));
    }
}

std::vector<std::string> ProbeProcess::RemainingLines(int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    std::vector<std::string> lines;
    for (;;) {
        std::string line = NextLine(static_cast<int>(std::max<int64_t>(0, deadline - NowMs())));
        if (line.empty() && (ended_ || NowMs() >= deadline))
            return lines;
        lines.push_back(std::move(line));
    }
}

int ProbeProcess::WaitForExit(int timeoutMs) {
    if (reaped_ || pid_ <= 0)
        return status_;
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return status_;
        }
        if (done < 0 || NowMs() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ProbeProcess::CloseInput() {
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

void ProbeProcess::Kill(int signal) {
    if (pid_ > 0 && !reaped_)
        kill(pid_, signal);
}

}  // namespace tvxtest
