#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An owned block of bytes for a whole download held in memory. A large block
// is mapped straight from the kernel and asked for huge pages, so that filling
// it takes one page fault per 2 MiB instead of one per 4 KiB: for a body of
// hundreds of MiB the faults cost more than the copy into it. Its bytes are
// zero until written; a small block comes from the heap and is not cleared.
class BodyBuffer {
  public:
    // Blocks from this size on are mapped.
    static constexpr size_t kMappedFrom = 2u << 20;

    BodyBuffer() = default;
    ~BodyBuffer() { Reset(); }
    BodyBuffer(BodyBuffer&& other) noexcept;
    BodyBuffer& operator=(BodyBuffer&& other) noexcept;
    BodyBuffer(const BodyBuffer&) = delete;
    BodyBuffer& operator=(const BodyBuffer&) = delete;

    // A block of size bytes (size > 0); empty when memory runs out.
    static BodyBuffer Allocate(size_t size);

    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }
    void Reset();

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace platform
