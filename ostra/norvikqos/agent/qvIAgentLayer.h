#pragma once

#include <cstdint>

#include "ostra/norvikqos/agent/nwAgentMessages.h"
#include "ostra/norvikqos/object/qvIUnknown.h"

// What the agent layer tells its user; every call passes the listener context first.
class nwIAgentListener {
  public:
    virtual void OnAgentConnect(uint32_t context) = 0;
    virtual void OnAgentReply(uint32_t context, uint8_t result) = 0;
    virtual void OnAgentClose(uint32_t context) = 0;
    virtual void OnAgentConnectTimeout(uint32_t context) = 0;
    virtual void OnAgentReceiveTimeout(uint32_t context) = 0;

  protected:
    ~nwIAgentListener() = default;
};

// The application face of the agent layer: sends report records to the report
// host and passes its replies on.
class qvIAgentLayer : public qvIUnknown {
  public:
    virtual qvResult SetEventListener(nwIAgentListener* listener, uint32_t context) = 0;
    // Sends the records as one message (category 768, command 154).
    virtual qvResult SendReport(const nwAgentReport& report) = 0;
};
