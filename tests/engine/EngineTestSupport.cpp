#include "EngineTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace enginetest {
EngineProcess::EngineProcess(std::chrono::milliseconds idleLimit) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int fd = ::dup(ready[1]);  // without close-on-exec
        ::setenv("TVX_READY_FD", std::to_string(fd).c_str(), 1);
        ::setenv("TVX_ENGINE_IDLE_MS", std::to_string(idleLimit.count()).c_str(), 1);
        ::execl(TVX_ENGINE_PROGRAM, "vrDownload.exe", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    char byte = 0;
    ready_ = pid_ > 0 && ::poll(&p, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
}

EngineProcess::~EngineProcess() {
    Stop();
}

bool EngineProcess::WaitForExit(std::chrono::milliseconds timeout, int* status) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
        int st = 0;
        const pid_t r = ::waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            if (status)
                *status = st;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool EngineProcess::Running() {
    return pid_ > 0 && !WaitForExit(0ms);
}

void EngineProcess::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    if (!WaitForExit(5s)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

LinkClient::LinkClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Close();
}

LinkClient::~LinkClient() {
    Close();
}

void LinkClient::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool LinkClient::Send(const nwStreamMessage& message) {
    const auto bytes = message.Bytes();
    return message.IsValid() &&
           SendRaw(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool LinkClient::SendRaw(const std::string& bytes) {
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return done == bytes.size();
}

bool LinkClient::Next(Frame& frame, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (buffer_.size() >= nwStreamFrame::kHeaderSize) {
            const auto h =
                nwStreamFrame::ReadHeader(reinterpret_cast<const uint8_t*>(buffer_.data()));
            if (buffer_.size() - nwStreamFrame::kHeaderSize >= h.length) {
                frame.category = h.category;
                frame.command = h.command;
                frame.payload = buffer_.substr(nwStreamFrame::kHeaderSize, h.length);
                buffer_.erase(0, nwStreamFrame::kHeaderSize + h.length);
                seen_.push_back(frame);
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (fd_ < 0 || left.count() <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) != 1)
            return false;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

bool LinkClient::WaitFor(uint16_t command, Frame& frame, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Next(frame, left))
            return false;
        if (frame.command == command)
            return true;
    }
}

bool LinkClient::WaitClosed(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (fd_ >= 0 && std::chrono::steady_clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1)
            continue;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace enginetest
