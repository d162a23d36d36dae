#include "ReportHost.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "JsonText.h"

namespace {

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string PeerText(const sockaddr_in& addr) {
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

}  // namespace

ReportHost::ReportHost(ReportHostOptions options) : options_(std::move(options)) {}

ReportHost::~ReportHost() {
    connections_.clear();
    CloseFd(listen_);
    CloseFd(signal_);
    CloseFd(epoll_);
    CloseFd(out_);
}

bool ReportHost::Start(std::string& error) {
    out_ = ::open(options_.outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out_ < 0) {
        error = ErrnoText(("cannot open " + options_.outPath).c_str());
        return false;
    }

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.address.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.address;
        return false;
    }
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0) {
        error = ErrnoText("socket");
        return false;
    }
    const int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listen_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = ErrnoText(
            ("cannot bind " + options_.address + ":" + std::to_string(options_.port)).c_str());
        return false;
    }
    if (::listen(listen_, SOMAXCONN) != 0) {
        error = ErrnoText("listen");
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);

    // An ignored signal never reaches the signalfd, and a shell starts
    // background programs with SIGINT ignored: take both back first.
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        error = "cannot block the stop signals";
        return false;
    }
    signal_ = ::signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (signal_ < 0 || epoll_ < 0) {
        error = ErrnoText("signalfd/epoll");
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listen_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev);
    ev.data.fd = signal_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, signal_, &ev);

    Announce();
    return true;
}

void ReportHost::Announce() const {
    const std::string line = "listening " + std::to_string(port_) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (options_.readyFd >= 0) {
        WriteAll(options_.readyFd, line.data(), line.size());
        ::close(options_.readyFd);
    }
}

int ReportHost::Run() {
    epoll_event events[64];
    for (;;) {
        const int n = ::epoll_wait(epoll_, events, 64, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::perror("tvx-report-host: epoll_wait");
            return 1;
        }
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == signal_) {
                signalfd_siginfo info{};
                if (::read(signal_, &info, sizeof info) == sizeof info) {
                    std::fprintf(stderr, "tvx-report-host: stopping on signal %u\n",
                                 info.ssi_signo);
                    connections_.clear();
                    return 0;
                }
            } else if (fd == listen_) {
                AcceptAll();
            } else {
                Serve(fd, events[i].events);
            }
        }
    }
}

void ReportHost::AcceptAll() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listen_, reinterpret_cast<sockaddr*>(&peer), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Level-triggered readiness would spin on a full descriptor
                // table: wait for a connection to end instead.
                std::fprintf(stderr, "tvx-report-host: accept paused: %s\n", std::strerror(errno));
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listen_, nullptr);
                acceptPaused_ = true;
            }
            return;
        }
        auto connection = std::make_unique<ReportHostConnection>(
            fd, PeerText(peer), [this](const ReportRecord& record) { return WriteRecord(record); });
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0)
            continue;  // the connection closes its socket
        connections_[fd] = std::move(connection);
    }
}

void ReportHost::Serve(int fd, uint32_t events) {
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    ReportHostConnection& connection = *it->second;
    std::string reason;
    const bool wantedWrite = connection.WantsWrite();
    bool alive = true;
    if (events & EPOLLOUT)
        alive = connection.OnWritable(reason);
    // Readable, hung up and error all end in a read, which tells which it was.
    if (alive && (events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
        alive = connection.OnReadable(reason);
    if (!alive) {
        Drop(fd, reason);
        return;
    }
    if (connection.WantsWrite() != wantedWrite) {
        epoll_event ev{};
        ev.events = EPOLLIN | (connection.WantsWrite() ? EPOLLOUT : 0u);
        ev.data.fd = fd;
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev);
    }
}

void ReportHost::Drop(int fd, const std::string& reason) {
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    if (!reason.empty())
        std::fprintf(stderr, "tvx-report-host: dropped %s: %s\n", it->second->Peer().c_str(),
                     reason.c_str());
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    connections_.erase(it);
    if (acceptPaused_) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listen_;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev) == 0)
            acceptPaused_ = false;
    }
}

bool ReportHost::WriteRecord(const ReportRecord& record) {
    std::string line = "{\"job_name\":";
    AppendJsonString(line, record.JobName());
    line += ",\"url\":";
    AppendJsonString(line, record.Url());
    line += ",\"bytes\":" + std::to_string(record.DownloadedBytes()) + "}\n";
    // One write per line: the line is in the file before the reply goes out.
    if (!WriteAll(out_, line.data(), line.size())) {
        std::perror("tvx-report-host: write");
        return false;
    }
    return true;
}
