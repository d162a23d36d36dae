#include "platform/StreamInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

int StandardInput() {
    return STDIN_FILENO;
}

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

WaitResult WaitReadable(WaitItem* items, size_t count, int timeoutMs) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i] = {items[i].fd, POLLIN, 0};
        items[i].ready = false;
    }
    const int n = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
    if (n < 0)
        return errno == EINTR ? WaitResult::kInterrupted : WaitResult::kFailed;
    if (n == 0)
        return WaitResult::kTimedOut;
    for (size_t i = 0; i < count; ++i)
        items[i].ready = fds[i].revents != 0;
    return WaitResult::kReady;
}

ReadResult ReadAvailable(int fd, std::string& out) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            return ReadResult::kData;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return ReadResult::kNothingNow;
        return ReadResult::kEnd;
    }
}

}  // namespace platform
