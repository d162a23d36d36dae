#include "ostra/norvikqos/stack/nwStreamFrame.h"

#include <new>

namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

namespace nwStreamFrame {

nwStreamFrameHeader ReadHeader(const uint8_t* data) {
    nwStreamFrameHeader h;
    h.category = Get16(data);
    h.command = Get16(data + 2);
    h.reserved0 = Get32(data + 4);
    h.reserved1 = Get16(data + 8);
    h.length = Get32(data + 10);
    return h;
}

void WriteHeader(const nwStreamFrameHeader& header, uint8_t* out) {
    Put16(out, header.category);
    Put16(out + 2, header.command);
    Put32(out + 4, header.reserved0);
    Put16(out + 8, header.reserved1);
    Put32(out + 10, header.length);
}

}  // namespace nwStreamFrame

nwStreamMessage nwStreamMessage::Allocate(std::size_t payloadSize) {
    nwStreamMessage message;
    if (payloadSize > nwStreamFrame::kMaxPayloadLength)
        return message;
    const std::size_t size = nwStreamFrame::MessageSize(payloadSize);
    if (size - nwStreamFrame::kHeaderSize > nwStreamFrame::kMaxPayloadLength)
        return message;
    message.block_.reset(new (std::nothrow) uint8_t[size]());
    if (message.block_)
        message.size_ = size;
    return message;
}

std::span<const uint8_t> nwStreamMessage::Seal(uint16_t category, uint16_t command) {
    if (!block_)
        return {};
    nwStreamFrameHeader header;
    header.category = category;
    header.command = command;
    header.length = static_cast<uint32_t>(PayloadCapacity());
    nwStreamFrame::WriteHeader(header, block_.get());
    return Bytes();
}
