#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The engine's own reading and writing of the link's framed messages: a
// 14-byte little-endian header {u16 category, u16 command, u32 0, u16 0,
// u32 payload length} before the payload, the whole padded with zeros to a
// multiple of 8. Kept apart from the library's code on purpose, so that the
// two sides check each other.
namespace engine::wire {

constexpr std::size_t kHeaderSize = 14;
constexpr uint16_t kCategory = 256;
constexpr uint16_t kCategoryJobList = 258;
// The engine refuses frames above this rather than buffer without bound; the
// biggest client message (a one-piece list) stays far below.
constexpr uint32_t kMaxPayload = 16u * 1024u * 1024u;

struct FrameHeader {
    uint16_t category = 0;
    uint16_t command = 0;
    uint32_t length = 0;
};

FrameHeader ReadHeader(const uint8_t* data);

// Builds one outgoing frame: fields are appended in order, Finish pads and
// writes the header.
class FrameWriter {
  public:
    FrameWriter(uint16_t command, uint16_t category = kCategory);

    FrameWriter& U8(uint8_t v);
    FrameWriter& U16(uint16_t v);
    FrameWriter& U32(uint32_t v);
    FrameWriter& I64(int64_t v);
    FrameWriter& Zeros(std::size_t n);
    // A fixed-width field: at most width - 1 bytes of text, then zeros.
    FrameWriter& Fixed(std::string_view text, std::size_t width);
    // The text and its NUL.
    FrameWriter& Text(std::string_view text);
    FrameWriter& Raw(std::string_view bytes);

    std::string Finish();

  private:
    std::string bytes_;
};

// Reads payload fields in order; each read fails, and changes nothing, when the
// bytes are not there.
class FieldReader {
  public:
    FieldReader(const uint8_t* data, std::size_t length) : data_(data), length_(length) {}

    bool U8(uint8_t& v);
    bool U16(uint16_t& v);
    bool U32(uint32_t& v);
    bool I64(int64_t& v);
    bool Skip(std::size_t n);
    // Up to the first NUL within width bytes.
    bool Fixed(std::size_t width, std::string& out);
    // NUL-terminated; the NUL must be inside the payload.
    bool Text(std::string& out);
    bool Bytes(std::size_t n, std::string& out);

  private:
    bool Has(std::size_t n) const { return length_ - pos_ >= n; }
    uint64_t Little(int width);

    const uint8_t* data_;
    std::size_t length_;
    std::size_t pos_ = 0;
};

}  // namespace engine::wire
