#include "DemoHostProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tvxtest {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> args) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own group, and the default signal dispositions and mask.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (pid <= 0) {
        ::close(out[0]);
        ::close(err[0]);
        return;
    }
    pid_ = pid;
    outFd_ = out[0];
    errFd_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        Reap(true);
    }
    CloseFd(outFd_);
    CloseFd(errFd_);
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

void ChildProcess::ReadSome(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    if (::poll(fds, 2, ms) <= 0)
        return;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            CloseFd(i == 0 ? outFd_ : errFd_);
        }
    }
}

bool ChildProcess::WaitForOutput(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out_.find(text) == std::string::npos) {
        if (outFd_ < 0 || std::chrono::steady_clock::now() >= deadline)
            return false;
        ReadSome(deadline);
    }
    return true;
}

bool ChildProcess::Reap(bool block) {
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid_)
        return false;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return true;
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return exitCode_ >= 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Output first: the pipes close when the program (and all it started) ends.
    while ((outFd_ >= 0 || errFd_ >= 0) && std::chrono::steady_clock::now() < deadline)
        ReadSome(deadline);
    while (!Reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid_, SIGKILL);
            Reap(true);
            return false;
        }
        ::usleep(2000);
    }
    return true;
}

uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

}  // namespace tvxtest
