#include "launcher/core/InstallerLaunch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace launcher {
namespace {

pid_t Spawn(const char* program, char* const argv[], bool searchPath) {
    pid_t pid = -1;
    const int rc = searchPath ? posix_spawnp(&pid, program, nullptr, nullptr, argv, environ)
                              : posix_spawn(&pid, program, nullptr, nullptr, argv, environ);
    return rc == 0 ? pid : -1;
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool StartDirectly(const std::string& path, pid_t* spawned) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) == 0)
        chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR);  // a refusal shows up at the spawn
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const pid_t pid = Spawn(path.c_str(), argv, false);
    if (spawned)
        *spawned = pid;
    return pid > 0;
}

bool OpenWithDesktop(const std::string& path) {
    // xdg-open hands the file to the desktop's handler and ends; its exit
    // status is the only word on whether a handler took it.
    char opener[] = "xdg-open";
    char* const argv[] = {opener, const_cast<char*>(path.c_str()), nullptr};
    const pid_t pid = Spawn(opener, argv, true);
    return pid > 0 && WaitForExit(pid) == 0;
}

}  // namespace

InstallerKind ClassifyInstaller(std::string_view head) {
    if (head.size() >= 4 && head.substr(0, 4) == std::string_view("\x7f"
                                                                  "ELF",
                                                                  4))
        return InstallerKind::kElf;
    if (head.size() >= 2 && head.substr(0, 2) == "#!")
        return InstallerKind::kScript;
    return InstallerKind::kOther;
}

InstallerKind ClassifyInstallerFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return InstallerKind::kOther;
    char head[4];
    ssize_t n;
    do {
        n = read(fd, head, sizeof head);
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n > 0 ? ClassifyInstaller(std::string_view(head, static_cast<size_t>(n)))
                 : InstallerKind::kOther;
}

std::string MissingInstallerText(std::string_view path) {
    std::string text = "해당 경로(";
    text += path.empty() ? std::string_view("NULL") : path;
    text += ")에 파일이 존재 하지 않습니다.";
    return text;
}

bool LaunchInstaller(const std::string& path, std::string_view caption, IMessageBox& box,
                     pid_t* spawned) {
    if (spawned)
        *spawned = -1;
    struct stat st {};
    // A folder is no installer either; it would only open a file manager.
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        box.Show(caption, MissingInstallerText(path), MessageButtons::kOk);
        return false;
    }
    switch (ClassifyInstallerFile(path)) {
        case InstallerKind::kElf:
        case InstallerKind::kScript:
            return StartDirectly(path, spawned);
        case InstallerKind::kOther:
            break;
    }
    return OpenWithDesktop(path);
}

}  // namespace launcher
