#include "ostra/norvikqos/agent/nwCAgentLayer.h"

nwCAgentLayer::nwCAgentLayer() {
    RegisterParser();
}

void nwCAgentLayer::RegisterParser() {
    RegisterTypedHandler(nwAgent::kCategory, nwAgent::kCommandReply, &OnReply, this);
}

qvResult nwCAgentLayer::SetEventListener(nwIAgentListener* listener, uint32_t context) {
    listener_ = listener;
    listenerContext_ = context;
    return qv::kLayerOk;
}

qvResult nwCAgentLayer::SendReport(const nwAgentReport& report) {
    nwStreamMessage message = nwBuildAgentReportMessage(report);
    if (!message.IsValid())
        return qv::kLayerFail;
    const auto bytes = message.Bytes();
    return SendDown(nwDataChunk{bytes.data(), static_cast<uint32_t>(bytes.size())});
}

void nwCAgentLayer::OnReply(const uint8_t* payload, uint32_t length, void* self) {
    auto* layer = static_cast<nwCAgentLayer*>(self);
    // A reply always carries at least its result byte; a zero-length one is padded.
    const uint8_t result = payload && length > 0 ? payload[0] : 0;
    if (layer->listener_)
        layer->listener_->OnAgentReply(layer->listenerContext_, result);
}

bool nwCAgentLayer::OnLayerConnected() {
    if (listener_)
        listener_->OnAgentConnect(listenerContext_);
    return true;
}

void nwCAgentLayer::OnLayerClose() {
    if (listener_)
        listener_->OnAgentClose(listenerContext_);
}

bool nwCAgentLayer::OnConnectFailedEvent() {
    if (listener_)
        listener_->OnAgentConnectTimeout(listenerContext_);
    return true;
}

bool nwCAgentLayer::OnReceiveTimeoutEvent() {
    if (listener_)
        listener_->OnAgentReceiveTimeout(listenerContext_);
    return true;
}
