#include "library/actions/CBinaryExecute_V3.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "library/common/CGetPath_Brenholt.h"
#include "library/common/Log.h"
#include "platform/FileSystem.h"

extern char** environ;

namespace {

constexpr const char* kReadyVariable = "TVX_READY_FD";

// Whether the file is something the kernel runs itself: an ELF image or a
// script with a "#!" line.
bool IsProgram(const std::string& path) {
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

void MakeOwnerExecutable(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IXUSR))
        chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR);
}

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
// itself is passed on. keepFd stays open in the child. Answers 0 or an errno.
int Spawn(const std::vector<std::string>& argv, bool search, int keepFd, pid_t& pid) {
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
    // The engine runs on after the host and writes its own log: it must not
    // hold the host's terminal or pipes open (a script reading the host's
    // output would otherwise wait for the engine's idle exit).
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
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

// Starts a program with a readiness pipe; the wait holds the read end.
int SpawnWithPipe(const std::string& path, std::unique_ptr<CEngineReadyWait>& wait) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    pid_t pid = -1;
    const int error = Spawn({path}, false, fds[1], pid);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        return error;
    }
    const int processFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    wait = std::make_unique<CEngineReadyWait>(pid, fds[0], processFd);
    return 0;
}

}  // namespace

CBinaryExecute_V3& CBinaryExecute_V3::Instance() {
    static CBinaryExecute_V3 instance;
    return instance;
}

int CBinaryExecute_V3::GetPath(std::string& out) const {
    CGetPath_Brenholt::Instance().GetEnginePath(out);
    return !out.empty() && platform::PathExists(out) && !platform::IsDirectory(out) ? 1 : 0;
}

void CBinaryExecute_V3::CopyPath(std::string& out, const std::string& in) const {
    out = in;
}

int CBinaryExecute_V3::Start(std::unique_ptr<CEngineReadyWait>& wait) {
    wait.reset();
    std::string path;
    if (!GetPath(path)) {
        WriteLog("[TarvoLib] Run Binary (no executable file)");
        return 0;
    }
    int error = 0;
    if (IsProgram(path)) {
        MakeOwnerExecutable(path);
        error = SpawnWithPipe(path, wait);
    } else {
        pid_t pid = -1;
        error = Spawn({"xdg-open", path}, true, -1, pid);
        if (error == 0)
            wait = std::make_unique<CEngineReadyWait>(pid, -1, -1);
    }
    if (error == 0) {
        WriteLog("[TarvoLib] Execute OK(0)");
        return 1;
    }
    // Opening failed: start the file itself as a program.
    MakeOwnerExecutable(path);
    error = SpawnWithPipe(path, wait);
    if (error == 0) {
        WriteLog("[TarvoLib] Execute OK(3)");
        return 1;
    }
    WriteLogFormat("[TarvoLib] Execute Fail(3) %s:%d", path.c_str(), error);
    return 0;
}

int CBinaryExecute_V3::RunEngine() {
    std::unique_ptr<CEngineReadyWait> wait;
    if (!Start(wait))
        return 0;
    WriteLog("[TarvoLib] Begin WFII");
    if (wait->HasPipe())
        wait->WaitBlocking();
    WriteLog("[TarvoLib] End WFII");
    return 1;
}

int CBinaryExecute_V3::RunEngine(platform::EventLoop& loop, std::function<void()> onReady,
                                 std::unique_ptr<CEngineReadyWait>& wait) {
    if (!Start(wait))
        return 0;
    WriteLog("[TarvoLib] Begin WFII");
    auto end = [onReady = std::move(onReady)](CEngineReadyWait::End) {
        WriteLog("[TarvoLib] End WFII");
        if (onReady)
            onReady();
    };
    // A program opened by xdg-open has no pipe: it is ready once started.
    if (!wait->HasPipe() || !wait->Start(loop, end))
        wait->FinishLater(loop, std::move(end));
    return 1;
}
