#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"

#include <algorithm>
#include <cstdint>

qvResult nwCStreamDispatcher::RegisterHandler(uint16_t category, uint32_t command,
                                              nwTypedHandler handler, void* context) {
    if (!handler)
        return qv::kLayerFail;
    handlers_.push_back({true, category, command, handler, nullptr, context});
    return qv::kLayerOk;
}

qvResult nwCStreamDispatcher::RegisterRawHandler(nwRawHandler handler, void* context) {
    if (!handler)
        return qv::kLayerFail;
    handlers_.push_back({false, 0, 0, nullptr, handler, context});
    rawMode_ = true;
    return qv::kLayerOk;
}

qvResult nwCStreamDispatcher::Parse(const uint8_t* data, uint32_t length, int32_t& consumed) {
    consumed = 0;
    // The count must fit the signed result; anything beyond waits for the next call.
    length = std::min<uint32_t>(length, INT32_MAX);
    // A handler may stop the dispatcher (its connection closed under it): the
    // rest of the data is then left alone.
    while (length > 0 && !stopped_) {
        const int32_t n = ParseOne(data, length);
        if (n == 0)
            break;
        if (n < 0) {
            consumed = n;
            return qv::kLayerOk;
        }
        data += n;
        length -= static_cast<uint32_t>(n);
        consumed += n;
    }
    return qv::kLayerOk;
}

int32_t nwCStreamDispatcher::ParseOne(const uint8_t* data, uint32_t length) {
    if (!data || length == 0)
        return 0;
    const uint8_t* payload = nullptr;
    if (!rawMode_) {
        if (length < nwStreamFrame::kHeaderSize)
            return 0;
        header_ = nwStreamFrame::ReadHeader(data);
        if (header_.length > nwStreamFrame::kMaxPayloadLength)
            return -1;
        if (length - nwStreamFrame::kHeaderSize < header_.length)
            return 0;
        payload = data + nwStreamFrame::kHeaderSize;
    }
    for (const Entry& entry : handlers_) {
        if (entry.typed) {
            // In raw mode no header was read, so typed entries have nothing to match.
            if (rawMode_ || entry.category != header_.category || entry.command != header_.command)
                continue;
            entry.typedHandler(payload, header_.length, entry.context);
            return static_cast<int32_t>(nwStreamFrame::kHeaderSize + header_.length);
        }
        const int32_t n = entry.rawHandler(data, length, entry.context);
        // Claiming more than was there would walk past the buffer.
        if (n > 0 && static_cast<uint32_t>(n) > length)
            return -1;
        return n;
    }
    return -1;
}
