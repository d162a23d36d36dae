#include "ostra/norvikqos/link/nwCCDNLocalClientLayer.h"

namespace {

nwCCDNLocalClientLayer* Self(void* self) {
    return static_cast<nwCCDNLocalClientLayer*>(self);
}

}  // namespace

nwCCDNLocalClientLayer::nwCCDNLocalClientLayer() {
    RegisterParser();
}

void nwCCDNLocalClientLayer::RegisterParser() {
    using namespace nwCDNLocal;
    RegisterTypedHandler(kCategory, kCmdJobAccepted, &OnAccepted, this);
    RegisterTypedHandler(kCategory, kCmdJobError, &OnError, this);
    RegisterTypedHandler(kCategory, kCmdJobProgress, &OnProgress, this);
    RegisterTypedHandler(kCategory, kCmdJobFinished, &OnFinished, this);
    RegisterTypedHandler(kCategory, kCmdFileCompleted, &OnCompleted, this);
    RegisterTypedHandler(kCategory, kCmdEngineNotice, &OnNotice, this);
    RegisterTypedHandler(kCategory, kCmdNetworkDown, &OnDown, this);
    RegisterTypedHandler(kCategory, kCmdNetworkUp, &OnUp, this);
    RegisterTypedHandler(kCategory, kCmdFileCompletedDetail, &OnCompletedDetail, this);
    RegisterTypedHandler(kCategory, kCmdResumeQuestion, &OnResume, this);
    RegisterTypedHandler(kCategory, kCmdEngineState, &OnState, this);
}

qvResult nwCCDNLocalClientLayer::SetEventListener(nwICDNLocalClientEventListener* listener,
                                                  uint32_t context) {
    listener_ = listener;
    listenerContext_ = context;
    return qv::kLayerOk;
}

qvResult nwCCDNLocalClientLayer::Send(nwStreamMessage message) {
    if (!message.IsValid())
        return qv::kLayerFail;
    const auto bytes = message.Bytes();
    SendDown(nwDataChunk{bytes.data(), static_cast<uint32_t>(bytes.size())});
    return qv::kLayerOk;
}

qvResult nwCCDNLocalClientLayer::SendJobMode(const nwCDNJobModeRecord& record) {
    return Send(nwBuildJobMode(record));
}
qvResult nwCCDNLocalClientLayer::SendJobKind(const nwCDNJobKindRecord& record) {
    return Send(nwBuildJobKind(record));
}
qvResult nwCCDNLocalClientLayer::SendJobList(const nwCDNJobList& list) {
    return Send(nwBuildJobList(list));
}
qvResult nwCCDNLocalClientLayer::SendJobListBegin(const nwCDNJobListHeader& header) {
    return Send(nwBuildJobListBegin(header));
}
qvResult nwCCDNLocalClientLayer::SendJobFile(const nwCDNJobFileRecord& record) {
    return Send(nwBuildJobFile(record));
}
qvResult nwCCDNLocalClientLayer::SendJobListEnd(uint32_t serial) {
    return Send(nwBuildJobListEnd(serial));
}
qvResult nwCCDNLocalClientLayer::SendStopJob(const nwCDNJobKeyRecord& record) {
    return Send(nwBuildStopJob(record));
}
qvResult nwCCDNLocalClientLayer::SendEngineText(std::string_view text) {
    return Send(nwBuildEngineText(text));
}
qvResult nwCCDNLocalClientLayer::SendJobValue(const nwCDNJobValueRecord& record) {
    return Send(nwBuildJobValue(record));
}
qvResult nwCCDNLocalClientLayer::SendJobFlag(uint32_t serial) {
    return Send(nwBuildJobFlag(serial));
}
qvResult nwCCDNLocalClientLayer::SendResumeAnswer(const nwCDNResumeAnswerRecord& record) {
    return Send(nwBuildResumeAnswer(record));
}
qvResult nwCCDNLocalClientLayer::SendCommand22() {
    return Send(nwBuildCommand22());
}

bool nwCCDNLocalClientLayer::OnLayerConnected() {
    if (listener_)
        listener_->OnEngineConnected(listenerContext_);
    return true;
}

void nwCCDNLocalClientLayer::OnLayerClose() {
    if (listener_)
        listener_->OnEngineClosed(listenerContext_);
}

bool nwCCDNLocalClientLayer::OnConnectFailedEvent() {
    if (listener_)
        listener_->OnEngineConnectFailed(listenerContext_);
    return true;
}

bool nwCCDNLocalClientLayer::OnReceiveTimeoutEvent() {
    return true;
}

int32_t nwCCDNLocalClientLayer::OnReceive(const uint8_t* data, uint32_t length) {
    const int32_t consumed = nwCApplicationStack::OnReceive(data, length);
    return malformed_ ? -1 : consumed;
}

void nwCCDNLocalClientLayer::Reject() {
    malformed_ = true;
    Dispatcher().Stop();
}

// Each handler parses the whole payload first; the listener hears of a
// message only once all of it has been read safely.
void nwCCDNLocalClientLayer::OnAccepted(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNJobAcceptedRecord record;
    if (!nwReadJobAccepted(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnJobAccepted(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnError(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNJobErrorRecord record;
    if (!nwReadJobError(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnJobError(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnProgress(const uint8_t* payload, uint32_t length, void* self) {
    auto* layer = Self(self);
    nwCDNJobProgressRecord record;
    if (!nwReadJobProgress(payload, length, record, layer->progressEntries_))
        return layer->Reject();
    if (layer->listener_)
        layer->listener_->OnJobProgress(record, layer->listenerContext_);
}

void nwCCDNLocalClientLayer::OnFinished(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNJobFinishedRecord record;
    if (!nwReadJobFinished(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnJobFinished(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnCompleted(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNFileCompletedRecord record;
    if (!nwReadFileCompleted(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnFileCompleted(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnNotice(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNEngineNoticeRecord record;
    if (!nwReadEngineNotice(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnEngineNotice(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnDown(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNNetworkRecord record;
    if (!nwReadNetworkChange(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnNetworkDown(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnUp(const uint8_t* payload, uint32_t length, void* self) {
    nwCDNNetworkRecord record;
    if (!nwReadNetworkChange(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnNetworkUp(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnCompletedDetail(const uint8_t* payload, uint32_t length,
                                               void* self) {
    nwCDNFileCompletedRecord record;
    if (!nwReadFileCompletedDetail(payload, length, record))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnFileCompletedDetail(record, Self(self)->listenerContext_);
}

void nwCCDNLocalClientLayer::OnResume(const uint8_t* payload, uint32_t length, void* self) {
    uint32_t serial = 0;
    if (!nwReadResumeQuestion(payload, length, serial))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnResumeQuestion(serial);
}

void nwCCDNLocalClientLayer::OnState(const uint8_t* payload, uint32_t length, void* self) {
    uint32_t value = 0;
    if (!nwReadEngineState(payload, length, value))
        return Self(self)->Reject();
    if (auto* l = Self(self)->listener_)
        l->OnEngineStateMessage(value, Self(self)->listenerContext_);
}
