#include "engine/link/WireFormat.h"

#include <cstring>

namespace engine::wire {

FrameHeader ReadHeader(const uint8_t* d) {
    FrameHeader h;
    h.category = static_cast<uint16_t>(d[0] | (d[1] << 8));
    h.command = static_cast<uint16_t>(d[2] | (d[3] << 8));
    h.length = uint32_t{d[10]} | (uint32_t{d[11]} << 8) | (uint32_t{d[12]} << 16) |
               (uint32_t{d[13]} << 24);
    return h;
}

FrameWriter::FrameWriter(uint16_t command, uint16_t category) : bytes_(kHeaderSize, '\0') {
    bytes_[0] = static_cast<char>(category & 0xFF);
    bytes_[1] = static_cast<char>(category >> 8);
    bytes_[2] = static_cast<char>(command & 0xFF);
    bytes_[3] = static_cast<char>(command >> 8);
}

FrameWriter& FrameWriter::U8(uint8_t v) {
    bytes_.push_back(static_cast<char>(v));
    return *this;
}
FrameWriter& FrameWriter::U16(uint16_t v) {
    for (int i = 0; i < 2; ++i)
        bytes_.push_back(static_cast<char>(v >> (8 * i)));
    return *this;
}
FrameWriter& FrameWriter::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes_.push_back(static_cast<char>(v >> (8 * i)));
    return *this;
}
FrameWriter& FrameWriter::I64(int64_t v) {
    const auto u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i)
        bytes_.push_back(static_cast<char>(u >> (8 * i)));
    return *this;
}
FrameWriter& FrameWriter::Zeros(std::size_t n) {
    bytes_.append(n, '\0');
    return *this;
}
FrameWriter& FrameWriter::Fixed(std::string_view text, std::size_t width) {
    text = text.substr(0, text.find('\0'));
    const std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
    bytes_.append(text.data(), n);
    bytes_.append(width - n, '\0');
    return *this;
}
FrameWriter& FrameWriter::Text(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    bytes_.append(text.data(), text.size());
    bytes_.push_back('\0');
    return *this;
}
FrameWriter& FrameWriter::Raw(std::string_view bytes) {
    bytes_.append(bytes.data(), bytes.size());
    return *this;
}

std::string FrameWriter::Finish() {
    const std::size_t padded = (bytes_.size() + 7) / 8 * 8;
    bytes_.resize(padded, '\0');
    const auto length = static_cast<uint32_t>(padded - kHeaderSize);
    for (int i = 0; i < 4; ++i)
        bytes_[10 + i] = static_cast<char>(length >> (8 * i));
    return std::move(bytes_);
}

uint64_t FieldReader::Little(int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= uint64_t{data_[pos_ + i]} << (8 * i);
    pos_ += static_cast<std::size_t>(width);
    return v;
}

bool FieldReader::U8(uint8_t& v) {
    if (!Has(1))
        return false;
    v = static_cast<uint8_t>(Little(1));
    return true;
}
bool FieldReader::U16(uint16_t& v) {
    if (!Has(2))
        return false;
    v = static_cast<uint16_t>(Little(2));
    return true;
}
bool FieldReader::U32(uint32_t& v) {
    if (!Has(4))
        return false;
    v = static_cast<uint32_t>(Little(4));
    return true;
}
bool FieldReader::I64(int64_t& v) {
    if (!Has(8))
        return false;
    v = static_cast<int64_t>(Little(8));
    return true;
}
bool FieldReader::Skip(std::size_t n) {
    if (!Has(n))
        return false;
    pos_ += n;
    return true;
}
bool FieldReader::Fixed(std::size_t width, std::string& out) {
    if (!Has(width))
        return false;
    const auto* p = reinterpret_cast<const char*>(data_ + pos_);
    out.assign(p, strnlen(p, width));
    pos_ += width;
    return true;
}
bool FieldReader::Text(std::string& out) {
    const std::size_t rest = length_ - pos_;
    const auto* p = reinterpret_cast<const char*>(data_ + pos_);
    const void* nul = rest ? std::memchr(p, 0, rest) : nullptr;
    if (!nul)
        return false;
    const auto n = static_cast<std::size_t>(static_cast<const char*>(nul) - p);
    out.assign(p, n);
    pos_ += n + 1;
    return true;
}
bool FieldReader::Bytes(std::size_t n, std::string& out) {
    if (!Has(n))
        return false;
    out.assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return true;
}

}  // namespace engine::wire
