#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpAddress.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"
#include "ostra/norvikqos/stack/nwIQoSNetStack.h"

// Base of every protocol layer: the net-stack operations that only forward to
// the context the layer is pushed on, the dispatch of context events to the
// layer's own handlers, and an embedded stream dispatcher that reads framed
// messages from the bytes below. Forwarding operations answer 0x80200000 (or
// do nothing) while the layer has not been pushed.
class nwCApplicationStack : public nwIQoSNetStack {
  public:
    qvResult GetLayerReceiveRate(uint32_t& bytesPerSecond) override;
    qvResult GetLayerSendRate(uint32_t& bytesPerSecond) override;
    // Only layers placed under others (TLS) take data from above.
    qvResult OnDataFromAbove(const nwDataChunk& chunk) override;
    qvResult CloseContext() override;
    bool OnLayerConnected() override { return true; }
    bool OnLayerConnectFailed() override { return true; }
    bool OnContextEvent(int32_t code) override;
    // Framed messages go to the dispatcher's handlers.
    int32_t OnReceive(const uint8_t* data, uint32_t length) override;
    // Stops the dispatcher for good, then tells the concrete layer.
    void OnContextClosed() override;
    qvResult AssignWatchFlags(uint32_t flags) override;
    qvResult SetWatchFlags(uint32_t bits) override;
    qvResult ClearWatchFlags(uint32_t bits) override;
    qvResult Connect(const cpAddress& address) override;
    qvResult NotifyConnectedUp() override;
    int32_t PassUp(const uint8_t* data, uint32_t length) override;
    qvResult SendDown(const nwDataChunk& chunk) override;

    // The connection closed: each concrete layer tells its listener.
    virtual void OnLayerClose() = 0;
    virtual bool OnConnectFailedEvent() { return true; }
    virtual bool OnSendDrainedEvent() { return true; }
    virtual bool OnReceiveTimeoutEvent() { return true; }
    virtual bool OnPeriodicEvent() { return true; }

    nwCStreamDispatcher& Dispatcher() { return dispatcher_; }

  protected:
    nwCApplicationStack() = default;

    qvResult FindLayer(uint32_t classId, qvSmartPtr<>& out);
    qvResult PushLayer(uint32_t classId, bool atBottom);
    qvResult GetRemoteAddress(const cpAddress*& address);
    qvResult SetRemoteAddress(const cpAddress& address);
    qvResult GetHostName(const char** name);
    qvResult SetHostName(const char* name);
    qvResult RegisterTypedHandler(uint16_t category, uint32_t command, nwTypedHandler handler,
                                  void* context);
    qvResult RegisterRawHandler(nwRawHandler handler, void* context);
    // Builds one framed message around the payload and sends it down; the
    // payload is copied once, into the message block.
    qvResult SendMessage(uint16_t command, const void* payload, uint32_t payloadSize,
                         uint16_t category);

  private:
    // Embedded: never released through its count.
    nwCStreamDispatcher dispatcher_;
};
