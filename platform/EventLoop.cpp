#include "platform/EventLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

thread_local EventLoop* tCurrent = nullptr;

// Tags in epoll_event.data for the loop's own descriptors; handlers are stored
// as their pointer, which is never this small.
constexpr uint64_t kWakeTag = 1;
constexpr uint64_t kTickTag = 2;

}  // namespace

EventLoop::EventLoop() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ >= 0 && wake_ >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kWakeTag;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    }
}

EventLoop::~EventLoop() {
    StopTick();
    if (wake_ >= 0)
        close(wake_);
    if (epoll_ >= 0)
        close(epoll_);
    if (tCurrent == this)
        tCurrent = nullptr;
}

EventLoop* EventLoop::Current() {
    return tCurrent;
}

bool EventLoop::Watch(int fd, uint32_t events, IFdHandler* handler) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = handler;
    return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

bool EventLoop::Rewatch(int fd, uint32_t events, IFdHandler* handler) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = handler;
    return epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0;
}

void EventLoop::Unwatch(int fd, IFdHandler* handler) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    // The batch belongs to the loop's thread; a handler unwatched from another
    // thread filters stale events itself.
    if (tCurrent != this)
        return;
    const uint64_t key = reinterpret_cast<uintptr_t>(handler);
    for (int i = batchPos_; i < batchEnd_; ++i) {
        if (batch_[i].data == key)
            batch_[i].data = 0;
    }
}

void EventLoop::Post(std::function<void()> task) {
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

void EventLoop::Quit() {
    {
        std::lock_guard lock(postedMutex_);
        quitRequested_ = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

void EventLoop::DrainPosted() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(wake_, &count, sizeof count);
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(postedMutex_);
        tasks.swap(posted_);
        if (quitRequested_)
            quit_ = true;
    }
    for (auto& task : tasks)
        task();
}

void EventLoop::HandleTick() {
    uint64_t expirations = 0;
    if (read(tick_, &expirations, sizeof expirations) <= 0)
        return;
    if (onTick_)
        onTick_();
}

bool EventLoop::RunOnce(int timeoutMs) {
    tCurrent = this;
    if (quit_)
        return false;
    epoll_event events[kBatch];
    const int n = epoll_wait(epoll_, events, kBatch, timeoutMs);
    for (int i = 0; i < n; ++i)
        batch_[i] = epoll_event_slot{events[i].events, events[i].data.u64};
    batchEnd_ = n > 0 ? n : 0;
    for (batchPos_ = 0; batchPos_ < batchEnd_ && !quit_;) {
        const epoll_event_slot slot = batch_[batchPos_++];
        if (slot.data == kWakeTag)
            DrainPosted();
        else if (slot.data == kTickTag)
            HandleTick();
        else if (slot.data != 0)
            reinterpret_cast<IFdHandler*>(static_cast<uintptr_t>(slot.data))
                ->OnFdReady(slot.events);
    }
    batchEnd_ = batchPos_ = 0;
    return !quit_;
}

void EventLoop::Run(const std::function<bool()>& keepRunning) {
    while (RunOnce(-1)) {
        if (keepRunning && !keepRunning())
            break;
    }
}

bool EventLoop::StartTick(uint32_t periodMs, std::function<void()> onTick) {
    StopTick();
    tick_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (tick_ < 0)
        return false;
    itimerspec spec{};
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kTickTag;
    if (timerfd_settime(tick_, 0, &spec, nullptr) != 0 ||
        epoll_ctl(epoll_, EPOLL_CTL_ADD, tick_, &ev) != 0) {
        close(tick_);
        tick_ = -1;
        return false;
    }
    onTick_ = std::move(onTick);
    return true;
}

void EventLoop::StopTick() {
    if (tick_ < 0)
        return;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, tick_, nullptr);
    close(tick_);
    tick_ = -1;
    onTick_ = nullptr;
}

}  // namespace platform
