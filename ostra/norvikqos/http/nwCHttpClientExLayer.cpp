#include "ostra/norvikqos/http/nwCHttpClientExLayer.h"

#include <algorithm>
#include <cstring>

#include "ostra/norvikqos/core/qvIQoSContext.h"
#include "ostra/norvikqos/http/SplitUrl.h"
#include "ostra/norvikqos/object/qvClassFactory.h"

nwCHttpClientExLayer::nwCHttpClientExLayer() {
    RegisterParser();
}

void nwCHttpClientExLayer::RegisterParser() {
    RegisterRawHandler(&OnBytes, this);
}

qvResult nwCHttpClientExLayer::QueryInterface(uint32_t id, void** out) {
    if (id != kReceiveTargetInterfaceId)
        return nwTLayer::QueryInterface(id, out);
    if (out)
        *out = static_cast<cpIReceiveTarget*>(this);
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::SetEventListener(nwIHttpClientExEventListener* listener,
                                                uint32_t context) {
    listener_ = listener;
    listenerContext_ = context;
    // The storage belongs to the listener that offered it.
    bodyTarget_ = nullptr;
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::SetBodyTarget(nwIHttpBodyTarget* target) {
    bodyTarget_ = target;
    return qv::kLayerOk;
}

uint8_t* nwCHttpClientExLayer::ReceiveTarget(uint32_t& room) {
    room = 0;
    if (!headerComplete_ || !listener_ || !bodyTarget_)
        return nullptr;
    // Without a length the end of the body is unknown, and a read could take
    // bytes past it.
    const int64_t left = response_.GetContentLength() - receivedBody_;
    if (left <= 0)
        return nullptr;
    uint32_t offered = 0;
    uint8_t* target = bodyTarget_->BodyTarget(listenerContext_, offered);
    if (!target || offered == 0)
        return nullptr;
    room = static_cast<uint32_t>(std::min<int64_t>({left, offered, INT32_MAX}));
    return target;
}

int32_t nwCHttpClientExLayer::OnReceivedInPlace(uint32_t count) {
    // The bytes are in the target already; with nobody to take them the
    // response cannot go on.
    if (!listener_ || !bodyTarget_ || count > INT32_MAX)
        return -1;
    return BodyTaken(bodyTarget_->OnBodyWritten(listenerContext_, count));
}

qvResult nwCHttpClientExLayer::Open(const char* url) {
    if (!url || !*url || !context_)
        return qv::kLayerFail;
    nwSplitUrlParts parts;
    if (qv::Failed(SplitUrl(url, parts)))
        return qv::kLayerFail;
    if (parts.kind == nwEUrlKind::kSecure) {
        qvSmartPtr<> tls;
        // Without TLS below, the request would go out in clear to a TLS port.
        if (qv::Failed(FindLayer(qvClassId::kSecureSocketClientLayer, tls)) &&
            qv::Failed(PushLayer(qvClassId::kSecureSocketClientLayer, true)))
            return qv::kLayerFail;
    }
    requestPath_ = parts.path;
    store_.SetHeader("Host", parts.host.CStr());
    ClearWatchFlags(2);
    // The host cache answers at once or looks the name up off this thread; a
    // name that then does not resolve reaches the listener as an unreachable
    // host.
    if (qv::Failed(context_->ConnectHost(parts.host.CStr(), parts.port)))
        return qv::kLayerFail;
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::SetRequestHeader(const char* name, const char* value) {
    if (!name || !*name || !value || !*value)
        return qv::kLayerFail;
    return store_.SetHeader(name, value);
}

qvResult nwCHttpClientExLayer::SetQueryParameter(const char* name, const char* value) {
    if (!name || !*name || !value || !*value)
        return qv::kLayerFail;
    return store_.SetQueryParameter(name, value);
}

qvResult nwCHttpClientExLayer::GetStatusCode(int32_t& status) {
    status = response_.GetStatusCode();
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::GetContentLength(int64_t& length) {
    length = response_.GetContentLength();
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::GetResponseHeader(const char* name, qvCString& value) {
    if (!name || !*name)
        return qv::kLayerFail;
    return response_.GetHeader(name, value);
}

qvResult nwCHttpClientExLayer::GetRawResponseHeader(qvCString& text) {
    if (!headerComplete_)
        return qv::kLayerFail;
    text = response_.GetRawHeader();
    return qv::kLayerOk;
}

void nwCHttpClientExLayer::SendText(const qvCString& text) {
    if (text.IsEmpty())
        return;
    SendDown(nwDataChunk{reinterpret_cast<const uint8_t*>(text.CStr()), text.Length()});
}

qvResult nwCHttpClientExLayer::SendGet() {
    store_.SetHeader("GET", requestPath_.CStr());
    qvCString text;
    if (store_.Build(nwEHttpRequestType::kGet, text))
        SendText(text);
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::SendPost(int64_t bodyLength) {
    declaredBody_ = bodyLength;
    store_.SetHeader("POST", requestPath_.CStr());
    store_.SetBodyLength(bodyLength);
    qvCString text;
    if (store_.Build(nwEHttpRequestType::kPost, text)) {
        SetWatchFlags(2);
        SendText(text);
    }
    return qv::kLayerOk;
}

qvResult nwCHttpClientExLayer::SendData(const void* data, uint32_t length) {
    if (!data)
        return qv::kLayerFail;
    sentBody_ += length;
    SendDown(nwDataChunk{static_cast<const uint8_t*>(data), length});
    return qv::kLayerOk;
}

bool nwCHttpClientExLayer::OnLayerConnected() {
    if (listener_)
        listener_->OnConnect(listenerContext_);
    return true;
}

bool nwCHttpClientExLayer::OnLayerConnectFailed() {
    if (listener_)
        listener_->OnHostUnreachable(listenerContext_);
    return true;
}

void nwCHttpClientExLayer::OnLayerClose() {
    nwIHttpClientExEventListener* listener = listener_;
    listener_ = nullptr;
    bodyTarget_ = nullptr;
    if (listener)
        listener->OnClose(listenerContext_);
}

bool nwCHttpClientExLayer::OnConnectFailedEvent() {
    if (listener_)
        listener_->OnConnectTimeout(listenerContext_);
    return true;
}

bool nwCHttpClientExLayer::OnReceiveTimeoutEvent() {
    if (listener_)
        listener_->OnReceiveTimeout(listenerContext_);
    return true;
}

bool nwCHttpClientExLayer::OnSendDrainedEvent() {
    if (declaredBody_ == 0) {
        if (listener_)
            listener_->OnSendComplete(listenerContext_);
        return true;
    }
    if (sentBody_ >= declaredBody_) {
        if (!trailerSent_) {
            qvCString trailer;
            store_.BuildTrailer(trailer);
            if (!trailer.IsEmpty()) {
                trailerSent_ = true;
                ClearWatchFlags(2);
                SendText(trailer);
            }
        }
        return true;
    }
    if (listener_)
        listener_->OnSendComplete(listenerContext_);
    return true;
}

int32_t nwCHttpClientExLayer::OnBytes(const uint8_t* data, uint32_t length, void* self) {
    return static_cast<nwCHttpClientExLayer*>(self)->Receive(data, length);
}

int32_t nwCHttpClientExLayer::Receive(const uint8_t* data, uint32_t length) {
    const char* text = reinterpret_cast<const char*>(data);
    if (!headerComplete_) {
        const size_t end = nwCHttpHeaderParser::FindHeaderEnd(text, length, headerScanned_);
        if (end == 0) {
            // A header that never ends is not buffered without bound.
            if (length > nwCHttpHeaderParser::kMaxHeaderBytes) {
                headerResult_ = nwCHttpHeaderParser::kHeaderTooLarge;
                return -1;
            }
            headerScanned_ = length > 3 ? length - 3 : 0;
            return 0;
        }
        headerComplete_ = true;
        headerResult_ = response_.Parse(text, end);
        if (listener_)
            listener_->OnResponseHeader(listenerContext_);
        return static_cast<int32_t>(end);
    }
    if (!listener_)
        return 0;
    return BodyTaken(listener_->OnReceiveData(listenerContext_, data, length));
}

int32_t nwCHttpClientExLayer::BodyTaken(int32_t consumed) {
    if (consumed > 0)
        receivedBody_ += consumed;
    const int64_t expected = response_.GetContentLength();
    if (listener_ && expected > 0 && receivedBody_ >= expected)
        listener_->OnReceiveComplete(listenerContext_);
    return consumed;
}
