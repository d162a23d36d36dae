#include "support/OtherUser.h"

#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace tvxtest
