#include "ostra/norvikqos/stack/nwCApplicationStack.h"

#include <cstring>

#include "ostra/norvikqos/core/qvIQoSContext.h"
#include "ostra/norvikqos/stack/nwStreamFrame.h"

qvResult nwCApplicationStack::GetLayerReceiveRate(uint32_t& bytesPerSecond) {
    bytesPerSecond = 0;
    return context_ ? context_->GetReceiveRate(bytesPerSecond) : qv::kFail;
}

qvResult nwCApplicationStack::GetLayerSendRate(uint32_t& bytesPerSecond) {
    bytesPerSecond = 0;
    return context_ ? context_->GetSendRate(bytesPerSecond) : qv::kFail;
}

qvResult nwCApplicationStack::OnDataFromAbove(const nwDataChunk&) {
    return qv::kOk;
}

qvResult nwCApplicationStack::CloseContext() {
    return context_ ? context_->Close() : qv::kFail;
}

bool nwCApplicationStack::OnContextEvent(int32_t code) {
    switch (code) {
        case qvContextEvent::kConnectFailed:
            return OnConnectFailedEvent();
        case qvContextEvent::kSendDrained:
            return OnSendDrainedEvent();
        case qvContextEvent::kReceiveTimeout:
            return OnReceiveTimeoutEvent();
        case qvContextEvent::kPeriodic:
            return OnPeriodicEvent();
        default:
            return true;
    }
}

int32_t nwCApplicationStack::OnReceive(const uint8_t* data, uint32_t length) {
    int32_t consumed = 0;
    dispatcher_.Parse(data, length, consumed);
    return consumed;
}

void nwCApplicationStack::OnContextClosed() {
    dispatcher_.Stop();
    OnLayerClose();
}

qvResult nwCApplicationStack::AssignWatchFlags(uint32_t flags) {
    return context_ ? context_->AssignWatchFlags(flags) : qv::kFail;
}

qvResult nwCApplicationStack::SetWatchFlags(uint32_t bits) {
    return context_ ? context_->SetWatchFlags(bits) : qv::kFail;
}

qvResult nwCApplicationStack::ClearWatchFlags(uint32_t bits) {
    return context_ ? context_->ClearWatchFlags(bits) : qv::kFail;
}

qvResult nwCApplicationStack::Connect(const cpAddress& address) {
    return context_ ? context_->Connect(address) : qv::kFail;
}

qvResult nwCApplicationStack::NotifyConnectedUp() {
    return context_ ? context_->LayerConnected(this) : qv::kFail;
}

int32_t nwCApplicationStack::PassUp(const uint8_t* data, uint32_t length) {
    return context_ ? context_->LayerReceived(this, data, length) : 0;
}

qvResult nwCApplicationStack::SendDown(const nwDataChunk& chunk) {
    return context_ ? context_->SendFromLayer(this, chunk) : qv::kFail;
}

qvResult nwCApplicationStack::FindLayer(uint32_t classId, qvSmartPtr<>& out) {
    out.Reset();
    return context_ ? context_->FindLayer(classId, out) : qv::kFail;
}

qvResult nwCApplicationStack::PushLayer(uint32_t classId, bool atBottom) {
    return context_ ? context_->PushLayer(classId, atBottom) : qv::kFail;
}

qvResult nwCApplicationStack::GetRemoteAddress(const cpAddress*& address) {
    address = nullptr;
    return context_ ? context_->GetRemoteAddress(address) : qv::kFail;
}

qvResult nwCApplicationStack::SetRemoteAddress(const cpAddress& address) {
    return context_ ? context_->SetRemoteAddress(address) : qv::kFail;
}

qvResult nwCApplicationStack::GetHostName(const char** name) {
    if (name)
        *name = nullptr;
    return context_ ? context_->GetHostName(name) : qv::kFail;
}

qvResult nwCApplicationStack::SetHostName(const char* name) {
    return context_ ? context_->SetHostName(name) : qv::kFail;
}

qvResult nwCApplicationStack::RegisterTypedHandler(uint16_t category, uint32_t command,
                                                   nwTypedHandler handler, void* context) {
    return dispatcher_.RegisterHandler(category, command, handler, context);
}

qvResult nwCApplicationStack::RegisterRawHandler(nwRawHandler handler, void* context) {
    return dispatcher_.RegisterRawHandler(handler, context);
}

qvResult nwCApplicationStack::SendMessage(uint16_t command, const void* payload,
                                          uint32_t payloadSize, uint16_t category) {
    nwStreamMessage message = nwStreamMessage::Allocate(payloadSize);
    if (!message.IsValid())
        return qv::kLayerFail;
    if (payloadSize > 0 && payload)
        std::memcpy(message.Payload(), payload, payloadSize);
    const auto bytes = message.Seal(category, command);
    SendDown(nwDataChunk{bytes.data(), static_cast<uint32_t>(bytes.size())});
    return qv::kLayerOk;
}
