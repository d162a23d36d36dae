#pragma once

#include <cstdint>
#include <vector>

#include "ostra/norvikqos/object/qvIUnknown.h"
#include "ostra/norvikqos/stack/nwStreamFrame.h"

// Called with the payload of one framed message whose category and command it
// was registered for; length is the header's length field. Its result is unused.
using nwTypedHandler = void (*)(const uint8_t* payload, uint32_t length, void* context);
// Called with every unparsed byte; returns how many it consumed: 0 when it needs
// more data, negative on an error that closes the connection.
using nwRawHandler = int32_t (*)(const uint8_t* data, uint32_t length, void* context);

// Splits the byte stream of a connection into messages and hands each to the
// first matching handler, in registration order. Starts in framed mode; once a
// raw handler is registered the stream is no longer read as frames and the raw
// handler sees the bytes from their first one. Stopped for good when the owning
// layer's connection closes.
//
// A layer embeds one as a member (it is never released through its count
// there) or holds one made by the class factory.
class nwCStreamDispatcher : public qvTUnknown<qvIUnknown> {
  public:
    nwCStreamDispatcher() = default;
    ~nwCStreamDispatcher() override = default;
    nwCStreamDispatcher(const nwCStreamDispatcher&) = delete;
    nwCStreamDispatcher& operator=(const nwCStreamDispatcher&) = delete;

    // Appends a typed handler for (category, command); 0x40300000 (0x80300000
    // for a null handler).
    virtual qvResult RegisterHandler(uint16_t category, uint32_t command, nwTypedHandler handler,
                                     void* context);
    // Appends a raw handler and switches to raw mode; as RegisterHandler.
    qvResult RegisterRawHandler(nwRawHandler handler, void* context);

    // Dispatches every complete message of data and sets consumed to the bytes
    // taken (what is left waits for more data), or to a negative value when the
    // stream is unusable and the connection must close: a message no handler
    // takes, a length field above kMaxPayloadLength, a raw handler's error.
    // Always 0x40300000.
    virtual qvResult Parse(const uint8_t* data, uint32_t length, int32_t& consumed);

    void Stop() { stopped_ = true; }
    bool IsStopped() const { return stopped_; }
    bool IsRawMode() const { return rawMode_; }
    // The header of the last message read in framed mode.
    const nwStreamFrameHeader& Header() const { return header_; }

  private:
    struct Entry {
        bool typed;
        uint16_t category;
        uint32_t command;
        nwTypedHandler typedHandler;
        nwRawHandler rawHandler;
        void* context;
    };

    int32_t ParseOne(const uint8_t* data, uint32_t length);

    nwStreamFrameHeader header_;
    std::vector<Entry> handlers_;
    bool rawMode_ = false;
    bool stopped_ = false;
};
