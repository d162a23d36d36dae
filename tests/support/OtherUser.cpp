#include "support/OtherUser.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace tvxtest {

OtherUserProcess::OtherUserProcess(std::function<int()> body) {
    pid_ = ::fork();
    if (pid_ != 0)
        return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Groups first: once the user is dropped nothing else can be changed.
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0 ||
        ::getuid() != kOtherUser)
        ::_exit(125);
    ::_exit(body());
}

OtherUserProcess::~OtherUserProcess() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    Wait();
}

int OtherUserProcess::Wait() {
    if (pid_ <= 0)
        return -1;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) {
            pid_ = -1;
            return -1;
        }
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool RunAsNobody(const std::function<bool()>& body) {
    OtherUserProcess child([&] { return body() ? 0 : 1; });
    return child.Started() && child.Wait() == 0;
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
    process_ = std::make_unique<OtherUserProcess>([&] {
        ::close(ready[0]);
        ::close(release[1]);
        const char ok = setup() ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
        char byte;
        while (::read(release[0], &byte, 1) > 0) {
        }
        return 0;
    });
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char answer = 'n';
    ready_ = process_->Started() && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
}

NobodyProcess::~NobodyProcess() {
    if (release_ >= 0)
        ::close(release_);
    if (process_)
        process_->Wait();
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
