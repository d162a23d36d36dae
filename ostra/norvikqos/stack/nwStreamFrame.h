#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// The framed message of the binary protocols (agent link, local engine link):
// a 14-byte little-endian header followed by the payload.
//
//   offset 0  u16 category
//   offset 2  u16 command
//   offset 4  u32 0
//   offset 8  u16 0
//   offset 10 u32 payload length L
//   offset 14 L bytes of payload
//
// Senders pad every message with zero bytes to a multiple of 8 and count the
// padding in L; receivers accept any L up to kMaxPayloadLength.
struct nwStreamFrameHeader {
    uint16_t category = 0;
    uint16_t command = 0;
    uint32_t reserved0 = 0;
    uint16_t reserved1 = 0;
    uint32_t length = 0;
};

namespace nwStreamFrame {

constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kAlignment = 8;
// A length field above this is refused rather than buffered: no message of the
// protocols comes near it, and a peer must not make us hold unbounded data.
constexpr uint32_t kMaxPayloadLength = 16u * 1024u * 1024u;

// Size of the whole message carrying payloadSize bytes: header and payload
// rounded up to a multiple of 8 (0 -> 16, 10 -> 24).
constexpr std::size_t MessageSize(std::size_t payloadSize) {
    return (payloadSize + kHeaderSize + kAlignment - 1) / kAlignment * kAlignment;
}

// Decodes the first kHeaderSize bytes; the caller guarantees they are there.
nwStreamFrameHeader ReadHeader(const uint8_t* data);
// Encodes a header into kHeaderSize bytes at out.
void WriteHeader(const nwStreamFrameHeader& header, uint8_t* out);

}  // namespace nwStreamFrame

// One outgoing message built in a single zeroed block with room for the header
// in front of the payload, so the payload is written in place and the whole
// block goes to the send queue without another copy.
class nwStreamMessage {
  public:
    nwStreamMessage() = default;

    // A zeroed message for payloadSize bytes; empty (IsValid false) when the
    // padded length would exceed kMaxPayloadLength or memory runs out.
    static nwStreamMessage Allocate(std::size_t payloadSize);

    bool IsValid() const { return block_ != nullptr; }
    // Where the caller writes the payload; PayloadCapacity bytes, padding included.
    uint8_t* Payload() { return block_ ? block_.get() + nwStreamFrame::kHeaderSize : nullptr; }
    std::size_t PayloadCapacity() const { return size_ - nwStreamFrame::kHeaderSize; }

    // Writes the header (length field = payload capacity) and returns the whole
    // block, ready for SendDown. Empty for an invalid message.
    std::span<const uint8_t> Seal(uint16_t category, uint16_t command);

    std::span<const uint8_t> Bytes() const { return {block_.get(), block_ ? size_ : 0}; }

  private:
    std::unique_ptr<uint8_t[]> block_;
    std::size_t size_ = nwStreamFrame::kHeaderSize;
};
