#include "support/OtherUser.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tvxtest {
namespace {

bool BecomeNobody() {
    const passwd* pw = ::getpwnam("nobody");
    const uid_t uid = pw ? pw->pw_uid : 65534;
    const gid_t gid = pw ? pw->pw_gid : 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0 &&
           ::geteuid() == uid;
}

bool WaitOk(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool RunAsNobody(const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0)
        ::_exit(BecomeNobody() && body() ? 0 : 1);
    return WaitOk(pid);
}

NobodyProcess::NobodyProcess(const std::function<bool()>& setup) {
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    if (::pipe2(release, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        const char ok = BecomeNobody() && setup() ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
        char byte;
        while (::read(release[0], &byte, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    if (pid < 0) {
        ::close(ready[0]);
        ::close(release[1]);
        return;
    }
    pid_ = pid;
    release_ = release[1];
    char answer = 'n';
    ready_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
}

NobodyProcess::~NobodyProcess() {
    if (release_ >= 0)
        ::close(release_);
    if (pid_ > 0)
        WaitOk(pid_);
}

SharedTempDir::SharedTempDir() {
    char pattern[] = "/tmp/tvx-shared-XXXXXX";
    if (::mkdtemp(pattern) && ::chmod(pattern, 01777) == 0)
        path_ = std::string(pattern) + "/";
}

SharedTempDir::~SharedTempDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

}  // namespace tvxtest
