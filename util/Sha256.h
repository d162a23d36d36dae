#pragma once

// SHA-256 over OpenSSL's digest interface, fed piece by piece, so that a file
// is hashed as its bytes pass by rather than read again afterwards.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using Sha256Digest = std::array<uint8_t, 32>;

class CSha256 {
  public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Starts over, as if newly made.
    void Reset();
    void Update(const void* data, size_t length);
    // The digest of everything since the last reset; the hasher then starts over.
    Sha256Digest Final();
    // The bytes fed since the last reset.
    uint64_t Length() const { return length_; }

    static Sha256Digest Of(std::string_view bytes);

  private:
    struct Context;
    Context* context_;
    uint64_t length_ = 0;
};

// Lower-case hex of the digest, and back (64 hex digits, either case).
std::string Sha256Hex(const Sha256Digest& digest);
std::optional<Sha256Digest> ParseSha256Hex(std::string_view text);

// The SHA-256 and size of a file, read once; nullopt when it cannot be read.
struct FileHash {
    Sha256Digest digest;
    int64_t size;
};
std::optional<FileHash> HashFile(const std::string& path);
