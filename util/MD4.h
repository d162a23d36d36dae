#pragma once

// The MD4 digest exactly as RFC 1320 defines it, and the check of a
// body held in memory against its Md4HashList.

#include <cstddef>
#include <cstdint>
#include <vector>

class ctCMD4 {
  public:
    static constexpr int kDigestSize = 16;

    // RFC 1320 initial values, length 0, empty buffer.
    ctCMD4();
    virtual ~ctCMD4();

    // 0 for null data or a negative length, 1 otherwise; a length of 0
    // changes nothing.
    int Update(const void* data, int32_t length);
    // 0 for a null output; otherwise pads, writes the 16-byte digest, empties
    // the buffer count and returns 1.
    int Final(uint8_t* digest);

  private:
    void Transform(const uint8_t* block);

    uint32_t state_[4];
    uint32_t bits_[2];  // message length in bits: low, high
    uint8_t buffer_[64];
    uint32_t count_;  // bytes waiting in the buffer
};

// Chunk size of an Md4HashList.
constexpr int64_t kMd4HashChunk = 1048576;

// The Md4HashList of a body: the digest of every 1048576-byte chunk in order,
// then the digest of those digests (16 bytes for an empty body). An empty list
// for null data with a positive length or a negative length.
std::vector<uint8_t> Md4HashList(const void* body, int64_t length);

// True when the expected list equals the body's whole Md4HashList (16 x n + 16
// bytes for n chunks); a shorter or longer list never matches. A null or
// negative-length body does not match.
bool VerifyHashList(const void* expected, int64_t expectedLength, const void* body,
                    int64_t bodyLength);
