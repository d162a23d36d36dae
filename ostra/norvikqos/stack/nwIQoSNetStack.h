#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpAddress.h"
#include "ostra/norvikqos/object/qvIUnknown.h"

class qvIQoSContext;

// Bytes handed between layers: the receiver copies what it keeps.
struct nwDataChunk {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

// Interface id of a layer's net-stack face.
constexpr uint32_t kNetStackInterfaceId = 0x2016;

// The face through which a connection context and the neighbouring layers drive
// a protocol layer. The layer keeps a plain pointer to the context it is pushed
// on (no reference: the context owns its layers).
class nwIQoSNetStack : public qvIUnknown {
  public:
    virtual qvResult GetLayerReceiveRate(uint32_t& bytesPerSecond) = 0;
    virtual qvResult GetLayerSendRate(uint32_t& bytesPerSecond) = 0;
    // The layer above asks this layer to send a chunk.
    virtual qvResult OnDataFromAbove(const nwDataChunk& chunk) = 0;
    virtual qvResult CloseContext() = 0;
    // True lets the notice go on upward.
    virtual bool OnLayerConnected() = 0;
    virtual bool OnLayerConnectFailed() = 0;
    virtual bool OnContextEvent(int32_t code) = 0;
    // Answers how many bytes it consumed; negative for an error.
    virtual int32_t OnReceive(const uint8_t* data, uint32_t length) = 0;
    virtual void OnContextClosed() = 0;
    virtual qvResult AssignWatchFlags(uint32_t flags) = 0;
    virtual qvResult SetWatchFlags(uint32_t bits) = 0;
    virtual qvResult ClearWatchFlags(uint32_t bits) = 0;
    virtual qvResult Connect(const cpAddress& address) = 0;
    virtual qvResult NotifyConnectedUp() = 0;
    virtual int32_t PassUp(const uint8_t* data, uint32_t length) = 0;
    virtual qvResult SendDown(const nwDataChunk& chunk) = 0;

    void AttachContext(qvIQoSContext* context) { context_ = context; }
    qvIQoSContext* Context() const { return context_; }

  protected:
    qvIQoSContext* context_ = nullptr;
};
