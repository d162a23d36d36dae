#include "TrackerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace enginetest {
namespace {

bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

}  // namespace

// opentracker reads its whitelist as the user nobody, who cannot enter the
// test's private folders: its folder is a readable one of its own in /tmp.
TrackerProcess::TrackerProcess(uint16_t port) : port_(port) {
    char name[] = "/tmp/tvx-tracker-XXXXXX";
    if (::mkdtemp(name)) {
        dir_ = std::string(name) + "/";
        ::chmod(name, 0755);
    }
}

bool TrackerProcess::Start() {
    ::chmod(WhitelistPath().c_str(), 0644);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // opentracker changes root into its working folder.
        if (::chdir(dir_.c_str()) != 0)
            ::_exit(126);
        const std::string p = std::to_string(port_);
        const std::string list = WhitelistPath();
        ::execl("/usr/bin/opentracker", "opentracker", "-i", "127.0.0.1", "-p", p.c_str(), "-P",
                p.c_str(), "-w", list.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; pid_ > 0 && i < 200 && !Accepts(port_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (pid_ > 0 && !Accepts(port_)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    return pid_ > 0;
}

TrackerProcess::~TrackerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
        ::unlink(WhitelistPath().c_str());
        ::rmdir(dir_.c_str());
    }
}

std::string TrackerProcess::AnnounceUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/announce";
}

}  // namespace enginetest
