#include "library/actions/CEngineReadyWait.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace {

// Collects the exit status of the process so that it leaves no zombie: now
// when it has ended, else by a thread of its own that waits for its end (the
// engine usually outlives the wait by far).
void Reap(pid_t pid) {
    if (pid <= 0)
        return;
    if (waitpid(pid, nullptr, WNOHANG) != 0)
        return;
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

CEngineReadyWait::CEngineReadyWait(pid_t pid, int readyFd, int processFd)
    : pid_(pid), readyFd_(readyFd), processFd_(processFd) {
    processWatch_.owner = this;
}

CEngineReadyWait::~CEngineReadyWait() {
    StopWatching();
    if (readyFd_ >= 0)
        close(readyFd_);
    if (processFd_ >= 0)
        close(processFd_);
    Reap(pid_);
}

bool CEngineReadyWait::Start(platform::EventLoop& loop, Callback onEnd) {
    onEnd_ = std::move(onEnd);
    loop_ = &loop;
    if (!loop.Watch(readyFd_, EPOLLIN, this)) {
        loop_ = nullptr;
        return false;
    }
    if (processFd_ >= 0 && !loop.Watch(processFd_, EPOLLIN, &processWatch_)) {
        close(processFd_);
        processFd_ = -1;
    }
    return true;
}

void CEngineReadyWait::FinishLater(platform::EventLoop& loop, Callback onEnd) {
    onEnd_ = std::move(onEnd);
    loop.Post([this, alive = std::weak_ptr<char>(alive_)] {
        if (alive.lock())
            Finish(End::Signalled);
    });
}

CEngineReadyWait::End CEngineReadyWait::WaitBlocking() {
    End end = End::Closed;
    while (!ended_) {
        pollfd fds[2] = {{readyFd_, POLLIN, 0}, {processFd_, POLLIN, 0}};
        const int n = poll(fds, processFd_ >= 0 ? 2 : 1, -1);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        if (fds[0].revents && ReadPipe(end))
            break;
        if (processFd_ >= 0 && fds[1].revents) {
            end = End::Exited;
            break;
        }
    }
    ended_ = true;
    return end;
}

void CEngineReadyWait::OnFdReady(uint32_t) {
    End end = End::Closed;
    if (ReadPipe(end))
        Finish(end);
}

bool CEngineReadyWait::ReadPipe(End& end) {
    char byte = 0;
    const ssize_t n = read(readyFd_, &byte, 1);
    if (n > 0) {
        end = End::Signalled;
        return true;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        end = End::Closed;
        return true;
    }
    return false;
}

void CEngineReadyWait::Finish(End end) {
    if (ended_)
        return;
    ended_ = true;
    StopWatching();
    // The callback may destroy this wait; nothing of it is touched afterwards.
    Callback callback = std::move(onEnd_);
    if (callback)
        callback(end);
}

void CEngineReadyWait::StopWatching() {
    if (!loop_)
        return;
    loop_->Unwatch(readyFd_, this);
    if (processFd_ >= 0)
        loop_->Unwatch(processFd_, &processWatch_);
    loop_ = nullptr;
}
