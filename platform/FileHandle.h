#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// One open file, owned: closed when the object goes. Made by Directory (for
// writing, relative to a folder handle) or by OpenForReading.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // A regular file, for reading; invalid for anything else (a folder, a
    // device, a FIFO that would block).
    static FileHandle OpenForReading(const std::string& path);

    bool IsValid() const { return fd_ >= 0; }
    // The size of a regular file; -1 when it cannot be asked.
    int64_t Size() const;
    // Reads exactly length bytes at offset; false when fewer are there.
    bool ReadAt(uint64_t offset, void* buffer, size_t length) const;
    // Writes every byte at the current position.
    bool Write(const void* data, size_t length);
    // Sets the last-access and last-write times (nanoseconds since
    // 1970-01-01 UTC).
    bool SetTimes(int64_t accessNs, int64_t writeNs);
    // Flushes the contents to the disk.
    bool Sync();
    // Closes; false when the close reported an error (a lost write).
    bool Close();

  private:
    int fd_ = -1;
};

}  // namespace platform
