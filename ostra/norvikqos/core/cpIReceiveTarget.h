#pragma once

#include <cstdint>

// Interface id under which a layer's QueryInterface answers this face.
constexpr uint32_t kReceiveTargetInterfaceId = 0x2018;

// Storage a bottom layer offers for the bytes it expects next, so that an
// unthrottled connection reads the socket straight into it instead of into
// the receive buffer and then copying. Asked only while the receive buffer is
// empty; a layer that cannot take its next bytes whole, or does not know how
// many belong to it, offers nothing and gets them through OnReceive as ever.
class cpIReceiveTarget {
  public:
    // Where the next bytes go and how many may go there; null for none. The
    // room never reaches past what the layer itself expects, so a read into it
    // takes no byte that belongs to anything after.
    virtual uint8_t* ReceiveTarget(uint32_t& room) = 0;
    // count bytes were written at the target last offered. Answers how many
    // the layer took, as OnReceive does; anything but count is an error.
    virtual int32_t OnReceivedInPlace(uint32_t count) = 0;

  protected:
    ~cpIReceiveTarget() = default;
};
