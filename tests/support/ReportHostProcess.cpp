#include "support/ReportHostProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

extern char** environ;

namespace tvxtest {

ReportHostProcess::ReportHostProcess(const std::string& program, const std::string& outPath,
                                     uint16_t port)
    : outPath_(outPath) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> args = {
        program, "--port", std::to_string(port), "--out", outPath_, "--ready-fd", "3"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    std::string line;
    pollfd p{ready[0], POLLIN, 0};
    char buffer[64];
    while (pid_ > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 5000) == 1) {
        const ssize_t n = ::read(ready[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(ready[0]);
    if (line.rfind("listening ", 0) == 0)
        port_ = static_cast<uint16_t>(std::stoi(line.substr(10)));
}

ReportHostProcess::~ReportHostProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::vector<std::string> ReportHostProcess::LinesIn(const std::string& outPath) {
    std::vector<std::string> lines;
    std::ifstream in(outPath);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool ReportHostProcess::WaitForLinesIn(const std::string& outPath, size_t count, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (LinesIn(outPath).size() < count) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace tvxtest
