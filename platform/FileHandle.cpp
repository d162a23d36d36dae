#include "platform/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileHandle::~FileHandle() {
    Close();
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileHandle FileHandle::OpenForReading(const std::string& path) {
    // Non-blocking, so that a FIFO put in the file's place cannot hang the
    // open; anything but a regular file is refused right after.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!file.IsValid() || ::fstat(file.fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return FileHandle();
    return file;
}

int64_t FileHandle::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool FileHandle::ReadAt(uint64_t offset, void* buffer, size_t length) const {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool FileHandle::Write(const void* data, size_t length) {
    const auto* in = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd_, in, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        in += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool FileHandle::SetTimes(int64_t accessNs, int64_t writeNs) {
    const auto split = [](int64_t ns) {
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(ns / 1000000000LL);
        ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
        if (ts.tv_nsec < 0) {
            ts.tv_nsec += 1000000000L;
            --ts.tv_sec;
        }
        return ts;
    };
    const timespec times[2] = {split(accessNs), split(writeNs)};
    return fd_ >= 0 && ::futimens(fd_, times) == 0;
}

bool FileHandle::Sync() {
    return fd_ >= 0 && ::fsync(fd_) == 0;
}

bool FileHandle::Close() {
    if (fd_ < 0)
        return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

}  // namespace platform
