#pragma once

#include "ostra/norvikqos/agent/qvIAgentLayer.h"
#include "ostra/norvikqos/stack/nwTLayer.h"

// The agent protocol on a connection: report messages out, result bytes back.
class nwCAgentLayer final : public nwTLayer<qvIAgentLayer> {
  public:
    nwCAgentLayer();

    qvResult SetEventListener(nwIAgentListener* listener, uint32_t context) override;
    qvResult SendReport(const nwAgentReport& report) override;

    bool OnLayerConnected() override;
    void OnLayerClose() override;
    bool OnConnectFailedEvent() override;
    bool OnReceiveTimeoutEvent() override;

  private:
    void RegisterParser();
    static void OnReply(const uint8_t* payload, uint32_t length, void* self);

    nwIAgentListener* listener_ = nullptr;
    uint32_t listenerContext_ = 0;
};
