// Linux: posix_spawn with an inherited readiness pipe, a pidfd for the
// process's end, and the end's cause read from the wait status and the
// program's standard error.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/ProcessStart.h"

extern char** environ;

namespace platform {
namespace {

constexpr const char* kReadyVariable = "TVX_READY_FD";
// How much of the end of the program's standard error is read for the reason.
constexpr size_t kErrorTail = 4096;
constexpr size_t kReasonLineMax = 400;
// The kernel's flag of a task that is in its exit (linux/sched.h).
constexpr unsigned long kTaskExiting = 0x4;

// The process's environment with the readiness descriptor set (or removed).
std::vector<std::string> EnvironmentWith(int readyFd) {
    std::vector<std::string> out;
    const size_t prefix = std::strlen(kReadyVariable);
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, kReadyVariable, prefix) == 0 && (*e)[prefix] == '=')
            continue;
        out.emplace_back(*e);
    }
    if (readyFd >= 0)
        out.push_back(std::string(kReadyVariable) + "=" + std::to_string(readyFd));
    return out;
}

// posix_spawn of argv[0] (searched in PATH when search is set), with default
// signal handling and an empty signal mask, so nothing the host changed for
// itself is passed on. keepFd stays open in the child; errorFd (or
// /dev/null) becomes its standard error. Answers 0 or an errno.
int Spawn(const std::vector<std::string>& argv, bool search, int keepFd, int errorFd, pid_t& pid) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::vector<std::string> environment = EnvironmentWith(keepFd);
    std::vector<char*> env;
    for (const std::string& e : environment)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A dup2 onto itself clears close-on-exec in the child only.
    if (keepFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, keepFd, keepFd);
    // The program runs on after the host: it must not hold the host's
    // terminal or pipes open (a script reading the host's output would
    // otherwise wait for the program's end).
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (errorFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int error =
        search ? posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data())
               : posix_spawn(&pid, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// A start the system refused. Errors of the moment (memory, descriptors, a
// file still open for writing) may pass; the others come from the file.
StartOutcome SpawnFailure(int error) {
    const bool passing = error == ENOMEM || error == EAGAIN || error == EMFILE || error == ENFILE ||
                         error == ETXTBSY || error == EINTR;
    return {StartOutcome::State::Failed, !passing,
            "cannot be executed: " + std::string(std::strerror(error)), error};
}

// The last non-empty line of the file's end, control characters replaced.
std::string LastLine(const std::string& path) {
    if (path.empty())
        return {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    struct stat st {};
    std::string tail;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t from = st.st_size > static_cast<off_t>(kErrorTail)
                               ? st.st_size - static_cast<off_t>(kErrorTail)
                               : 0;
        tail.resize(kErrorTail);
        const ssize_t n = pread(fd, tail.data(), tail.size(), from);
        tail.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    close(fd);
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' '))
        tail.pop_back();
    const size_t newline = tail.rfind('\n');
    std::string line = newline == std::string::npos ? tail : tail.substr(newline + 1);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    if (line.size() > kReasonLineMax)
        line = line.substr(0, kReasonLineMax) + "...";
    return line;
}

// The outcome of a process that ended before it was ready. Status 127 and
// 126 are the dynamic loader's and the system's "cannot run it".
StartOutcome EndedBeforeReady(bool known, int status, const std::string& errorFile) {
    StartOutcome out;
    if (!known) {
        out.reason = "ended before it was ready (its exit status is unknown)";
    } else if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        out.lasting = code == 127 || code == 126;
        out.reason = "exited with status " + std::to_string(code) + " before it was ready";
    } else if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = sigdescr_np(signal);
        out.reason = "killed by signal " + std::to_string(signal) + " (" +
                     (name ? name : "unknown") + ") before it was ready";
    } else {
        out.reason = "ended before it was ready";
    }
    const std::string said = LastLine(errorFile);
    if (!said.empty())
        out.reason += ": " + said;
    return out;
}

// Whether the process is in its exit or gone: what a closed pipe means
// depends on it. The exit flag is set before the process's descriptors are
// closed, so a pipe closed by an exit is never taken for one closed on purpose.
bool ProcessEnding(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* f = std::fopen(path, "re");
    if (!f)
        return true;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char* end = read ? std::strrchr(line, ')') : nullptr;
    if (!end)
        return true;
    char state = 0;
    unsigned long flags = 0;
    // state ppid pgrp session tty_nr tpgid flags
    if (std::sscanf(end + 1, " %c %*d %*d %*d %*d %*d %lu", &state, &flags) != 2)
        return true;
    return state == 'Z' || state == 'X' || (flags & kTaskExiting) != 0;
}

// Collects the exit status of an ended process; false when it cannot be had
// (the host ignores SIGCHLD, so the kernel collected it).
bool CollectStatus(pid_t pid, int& status) {
    for (;;) {
        const pid_t r = waitpid(pid, &status, 0);
        if (r == pid)
            return true;
        if (r < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// Leaves no zombie: collects the status now when the process has ended,
// else by a thread of its own that waits for its end (a started program
// usually outlives its start by far).
void Reap(pid_t pid) {
    if (pid <= 0 || waitpid(pid, nullptr, WNOHANG) != 0)
        return;
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// A program started with a readiness pipe.
class PipeStart final : public ProcessStart, private IFdHandler {
  public:
    PipeStart(pid_t pid, int readyFd, int processFd, std::string errorFile)
        : pid_(pid), readyFd_(readyFd), processFd_(processFd), errorFile_(std::move(errorFile)) {
        processWatch_.owner = this;
    }
    ~PipeStart() override {
        StopWatching();
        if (readyFd_ >= 0)
            close(readyFd_);
        if (processFd_ >= 0)
            close(processFd_);
        if (!collected_)
            Reap(pid_);
    }

    void Watch(EventLoop& loop, Callback onEnd) override {
        onEnd_ = std::move(onEnd);
        loop_ = &loop;
        const bool pipe = loop.Watch(readyFd_, EPOLLIN, this);
        if (processFd_ >= 0 && !loop.Watch(processFd_, EPOLLIN, &processWatch_)) {
            // Unwatched, it would never tell: the pipe tells the end alone.
            close(processFd_);
            processFd_ = -1;
        }
        if (pipe)
            return;
        // The loop refused the pipe: its readiness cannot be told without
        // blocking the loop. The program runs on; whether it serves, only a
        // connection to it can tell.
        StopWatching();
        loop.Post([this, alive = std::weak_ptr<char>(alive_)] {
            if (alive.lock())
                Finish({StartOutcome::State::Failed, false,
                        "its readiness cannot be watched on the event loop", 0});
        });
    }

    StartOutcome WaitBlocking() override {
        StartOutcome out;
        for (;;) {
            pollfd fds[2] = {{readyFd_, POLLIN, 0}, {processFd_, POLLIN, 0}};
            const int n = poll(fds, processFd_ >= 0 ? 2 : 1, -1);
            if (n < 0 && errno != EINTR) {
                out = AfterExit();
                break;
            }
            if (n <= 0)
                continue;
            if (fds[0].revents && OnPipe(out))
                break;
            if (processFd_ >= 0 && fds[1].revents) {
                out = OnExit();
                break;
            }
        }
        return out;
    }

  private:
    // The process handler: a second watched descriptor needs its own handler.
    struct ProcessWatch final : IFdHandler {
        PipeStart* owner = nullptr;
        void OnFdReady(uint32_t) override { owner->Finish(owner->OnExit()); }
    };

    void OnFdReady(uint32_t) override {
        StartOutcome out;
        if (OnPipe(out))
            Finish(out);
    }

    // What the pipe says; false while it says nothing yet, or when only the
    // process's end can tell (it closed the pipe by ending).
    bool OnPipe(StartOutcome& out) {
        char byte = 0;
        const ssize_t n = read(readyFd_, &byte, 1);
        if (n > 0) {
            out = StartOutcome::Ready();
            return true;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return false;
        if (!ProcessEnding(pid_)) {
            out = StartOutcome::Ready();  // closed on purpose: that says ready too
            return true;
        }
        // Closed by the exit: its status follows through the pidfd.
        if (processFd_ >= 0) {
            if (loop_)
                loop_->Unwatch(readyFd_, this);
            close(readyFd_);
            readyFd_ = -1;
            return false;
        }
        out = AfterExit();
        return true;
    }

    // The process ended. A byte it wrote before its end still counts.
    StartOutcome OnExit() {
        StartOutcome out;
        pollfd pipe = {readyFd_, POLLIN, 0};
        if (readyFd_ >= 0 && poll(&pipe, 1, 0) > 0 && OnPipe(out))
            return out;
        return AfterExit();
    }

    // The process ended (or is ending): a clean end is a program that left
    // its work to a child of its own; anything else is a failed start.
    StartOutcome AfterExit() {
        int status = 0;
        const bool known = CollectStatus(pid_, status);
        collected_ = true;
        if (known && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return StartOutcome::Ready();
        return EndedBeforeReady(known, status, errorFile_);
    }

    void Finish(const StartOutcome& out) {
        if (ended_)
            return;
        ended_ = true;
        StopWatching();
        // The callback may destroy this object; nothing of it is touched afterwards.
        Callback callback = std::move(onEnd_);
        if (callback)
            callback(out);
    }

    void StopWatching() {
        if (!loop_)
            return;
        if (readyFd_ >= 0)
            loop_->Unwatch(readyFd_, this);
        if (processFd_ >= 0)
            loop_->Unwatch(processFd_, &processWatch_);
        loop_ = nullptr;
    }

    pid_t pid_;
    int readyFd_;
    int processFd_;
    std::string errorFile_;
    EventLoop* loop_ = nullptr;
    ProcessWatch processWatch_;
    Callback onEnd_;
    bool ended_ = false;
    bool collected_ = false;
    // Tells a posted end whether the object still exists.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// A document handed to the desktop's opener: ready once started.
class OpenedStart final : public ProcessStart {
  public:
    explicit OpenedStart(pid_t pid) : pid_(pid) {}
    ~OpenedStart() override { Reap(pid_); }

    void Watch(EventLoop& loop, Callback onEnd) override {
        loop.Post([onEnd = std::move(onEnd), alive = std::weak_ptr<char>(alive_)] {
            if (alive.lock() && onEnd)
                onEnd(StartOutcome::Ready());
        });
    }
    StartOutcome WaitBlocking() override { return StartOutcome::Ready(); }

  private:
    pid_t pid_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace

bool IsProgramFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char head[4] = {};
    const ssize_t n = read(fd, head, sizeof head);
    close(fd);
    if (n >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F')
        return true;
    return n >= 2 && head[0] == '#' && head[1] == '!';
}

bool MakeOwnerExecutable(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (st.st_mode & S_IXUSR)
        return true;
    return chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) == 0;
}

std::unique_ptr<ProcessStart> StartProgram(const std::string& path, const std::string& errorFile,
                                           StartOutcome& failure) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        failure = SpawnFailure(errno);
        return nullptr;
    }
    // Opened here rather than in the child, so that a file that cannot be
    // written costs the reason, not the start.
    const int errorFd =
        errorFile.empty()
            ? -1
            : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    pid_t pid = -1;
    const int error = Spawn({path}, false, fds[1], errorFd, pid);
    close(fds[1]);
    if (errorFd >= 0)
        close(errorFd);
    if (error != 0) {
        close(fds[0]);
        failure = SpawnFailure(error);
        return nullptr;
    }
    const int processFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return std::make_unique<PipeStart>(pid, fds[0], processFd, errorFd >= 0 ? errorFile : "");
}

std::unique_ptr<ProcessStart> OpenWithDesktop(const std::string& path, StartOutcome& failure) {
    pid_t pid = -1;
    const int error = Spawn({"xdg-open", path}, true, -1, -1, pid);
    if (error != 0) {
        failure = SpawnFailure(error);
        return nullptr;
    }
    return std::make_unique<OpenedStart>(pid);
}

}  // namespace platform
