#include "util/MD4.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (~x & z);
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (x & z) | (y & z);
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

ctCMD4::ctCMD4()
    : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u},
      bits_{0, 0},
      buffer_{},
      count_(0) {}

ctCMD4::~ctCMD4() = default;

void ctCMD4::Transform(const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = Load32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    // Round 1.
    static constexpr int r1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; i += 4) {
        a = Rotl(a + F(b, c, d) + x[i + 0], r1[0]);
        d = Rotl(d + F(a, b, c) + x[i + 1], r1[1]);
        c = Rotl(c + F(d, a, b) + x[i + 2], r1[2]);
        b = Rotl(b + F(c, d, a) + x[i + 3], r1[3]);
    }
    // Round 2.
    static constexpr int r2[4] = {3, 5, 9, 13};
    for (int i = 0; i < 4; ++i) {
        a = Rotl(a + G(b, c, d) + x[i + 0] + 0x5a827999u, r2[0]);
        d = Rotl(d + G(a, b, c) + x[i + 4] + 0x5a827999u, r2[1]);
        c = Rotl(c + G(d, a, b) + x[i + 8] + 0x5a827999u, r2[2]);
        b = Rotl(b + G(c, d, a) + x[i + 12] + 0x5a827999u, r2[3]);
    }
    // Round 3.
    static constexpr int r3[4] = {3, 9, 11, 15};
    static constexpr int order[4] = {0, 2, 1, 3};
    for (int k = 0; k < 4; ++k) {
        const int i = order[k];
        a = Rotl(a + H(b, c, d) + x[i + 0] + 0x6ed9eba1u, r3[0]);
        d = Rotl(d + H(a, b, c) + x[i + 8] + 0x6ed9eba1u, r3[1]);
        c = Rotl(c + H(d, a, b) + x[i + 4] + 0x6ed9eba1u, r3[2]);
        b = Rotl(b + H(c, d, a) + x[i + 12] + 0x6ed9eba1u, r3[3]);
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

int ctCMD4::Update(const void* data, int32_t length) {
    if (!data || length < 0)
        return 0;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t n = static_cast<uint32_t>(length);
    const uint32_t addLow = n << 3;
    const uint32_t before = bits_[0];
    bits_[0] += addLow;
    if (bits_[0] < before)
        ++bits_[1];
    bits_[1] += n >> 29;

    if (count_ > 0) {
        const uint32_t take = n < 64 - count_ ? n : 64 - count_;
        std::memcpy(buffer_ + count_, p, take);
        count_ += take;
        p += take;
        n -= take;
        if (count_ < 64)
            return 1;
        Transform(buffer_);
        count_ = 0;
    }
    while (n >= 64) {
        Transform(p);
        p += 64;
        n -= 64;
    }
    if (n > 0) {
        std::memcpy(buffer_, p, n);
        count_ = n;
    }
    return 1;
}

int ctCMD4::Final(uint8_t* digest) {
    if (!digest)
        return 0;
    uint8_t lengthBytes[8];
    Store32(lengthBytes, bits_[0]);
    Store32(lengthBytes + 4, bits_[1]);

    // Pad to 56 bytes mod 64: one 0x80 byte then zeros, then the length.
    buffer_[count_++] = 0x80;
    if (count_ > 56) {
        std::memset(buffer_ + count_, 0, 64 - count_);
        Transform(buffer_);
        count_ = 0;
    }
    std::memset(buffer_ + count_, 0, 56 - count_);
    std::memcpy(buffer_ + 56, lengthBytes, 8);
    Transform(buffer_);

    for (int i = 0; i < 4; ++i)
        Store32(digest + 4 * i, state_[i]);
    count_ = 0;
    return 1;
}

std::vector<uint8_t> Md4HashList(const void* body, int64_t length) {
    std::vector<uint8_t> list;
    if (length < 0 || (!body && length > 0))
        return list;
    const int64_t chunks = (length + kMd4HashChunk - 1) / kMd4HashChunk;
    list.resize(static_cast<std::size_t>(16 * chunks + 16));
    const uint8_t* p = static_cast<const uint8_t*>(body);
    int64_t offset = 0;
    uint8_t* out = list.data();
    while (offset < length) {
        const int64_t chunk = length - offset < kMd4HashChunk ? length - offset : kMd4HashChunk;
        ctCMD4 md4;
        md4.Update(p + offset, static_cast<int32_t>(chunk));
        md4.Final(out);
        out += 16;
        offset += chunk;
    }
    ctCMD4 root;
    root.Update(list.data(), static_cast<int32_t>(16 * chunks));
    root.Final(out);
    return list;
}

bool VerifyHashList(const void* expected, int64_t expectedLength, const void* body,
                    int64_t bodyLength) {
    if (expectedLength < 0 || (!expected && expectedLength > 0))
        return false;
    if (bodyLength < 0 || (!body && bodyLength > 0))
        return false;
    // Only the whole list is a check: a shorter one would vouch for bytes it
    // never covered (an empty hash file would pass any body).
    const std::vector<uint8_t> computed = Md4HashList(body, bodyLength);
    if (expectedLength != static_cast<int64_t>(computed.size()))
        return false;
    return std::memcmp(expected, computed.data(), computed.size()) == 0;
}
