#include "platform/BodyBuffer.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace platform {

BodyBuffer::BodyBuffer(BodyBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

BodyBuffer& BodyBuffer::operator=(BodyBuffer&& other) noexcept {
    if (this != &other) {
        Reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

BodyBuffer BodyBuffer::Allocate(size_t size) {
    BodyBuffer buffer;
    if (size == 0)
        return buffer;
    if (size < kMappedFrom) {
        buffer.data_ = new (std::nothrow) uint8_t[size];
        buffer.size_ = buffer.data_ ? size : 0;
        return buffer;
    }
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return buffer;
    // Only advice: where huge pages are off the block still works page by page.
    madvise(block, size, MADV_HUGEPAGE);
    buffer.data_ = static_cast<uint8_t*>(block);
    buffer.size_ = size;
    buffer.mapped_ = true;
    return buffer;
}

void BodyBuffer::Reset() {
    if (!data_)
        return;
    if (mapped_)
        munmap(data_, size_);
    else
        delete[] data_;
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

}  // namespace platform
