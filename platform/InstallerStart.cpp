#include "platform/InstallerStart.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {
namespace {

ProcessId Spawn(const char* program, char* const argv[], bool searchPath) {
    pid_t pid = -1;
    const int rc = searchPath ? posix_spawnp(&pid, program, nullptr, nullptr, argv, environ)
                              : posix_spawn(&pid, program, nullptr, nullptr, argv, environ);
    return rc == 0 ? static_cast<ProcessId>(pid) : -1;
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string ReadFileHead(const std::string& path, std::size_t n) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string head(n, '\0');
    ssize_t got;
    do {
        got = read(fd, head.data(), n);
    } while (got < 0 && errno == EINTR);
    close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

ProcessId StartProgram(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) == 0)
        chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR);  // a refusal shows up at the spawn
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    return Spawn(path.c_str(), argv, false);
}

bool OpenWithDesktop(const std::string& path) {
    // xdg-open hands the file to the desktop's handler and ends; its exit
    // status is the only word on whether a handler took it.
    char opener[] = "xdg-open";
    char* const argv[] = {opener, const_cast<char*>(path.c_str()), nullptr};
    const ProcessId pid = Spawn(opener, argv, true);
    return pid > 0 && WaitForExit(static_cast<pid_t>(pid)) == 0;
}

}  // namespace platform
