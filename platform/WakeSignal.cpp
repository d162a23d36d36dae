#include "platform/WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void WakeSignal::Raise() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void WakeSignal::Clear() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

}  // namespace platform
