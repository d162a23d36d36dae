#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpIReceiveTarget.h"
#include "ostra/norvikqos/http/nwCHttpHeaderParser.h"
#include "ostra/norvikqos/http/nwCHttpRequestStore.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"
#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/stack/nwTLayer.h"

// HTTP/1.1 on top of a connection's layer stack: one request, its response
// header, and the body streamed to the listener. No redirects, retries or
// content decoding: the sessions above do those, each attempt on a fresh
// connection with a fresh layer. As the bottom layer (plain http) it offers
// the connection the listener's body storage to receive into.
class nwCHttpClientExLayer final : public nwTLayer<qvIHttpClientExLayer>, public cpIReceiveTarget {
  public:
    nwCHttpClientExLayer();

    qvResult QueryInterface(uint32_t id, void** out) override;

    qvResult SetEventListener(nwIHttpClientExEventListener* listener, uint32_t context) override;
    qvResult Open(const char* url) override;
    qvResult SetRequestHeader(const char* name, const char* value) override;
    qvResult SetQueryParameter(const char* name, const char* value) override;
    qvResult GetStatusCode(int32_t& status) override;
    qvResult GetContentLength(int64_t& length) override;
    qvResult GetResponseHeader(const char* name, qvCString& value) override;
    qvResult GetRawResponseHeader(qvCString& text) override;
    qvResult SendGet() override;
    qvResult SendPost(int64_t bodyLength) override;
    qvResult SendData(const void* data, uint32_t length) override;
    qvResult SetBodyTarget(nwIHttpBodyTarget* target) override;

    uint8_t* ReceiveTarget(uint32_t& room) override;
    int32_t OnReceivedInPlace(uint32_t count) override;

    bool OnLayerConnected() override;
    bool OnLayerConnectFailed() override;
    void OnLayerClose() override;
    bool OnConnectFailedEvent() override;
    bool OnSendDrainedEvent() override;
    bool OnReceiveTimeoutEvent() override;

    // Why the response header was refused, when it was (qv::kLayerOk otherwise).
    qvResult HeaderResult() const { return headerResult_; }

  private:
    void RegisterParser();
    static int32_t OnBytes(const uint8_t* data, uint32_t length, void* self);
    int32_t Receive(const uint8_t* data, uint32_t length);
    // Counts body bytes the listener took and tells it when the body is whole.
    int32_t BodyTaken(int32_t consumed);
    void SendText(const qvCString& text);

    nwIHttpClientExEventListener* listener_ = nullptr;
    nwIHttpBodyTarget* bodyTarget_ = nullptr;
    uint32_t listenerContext_ = 0;
    nwCHttpRequestStore store_;
    nwCHttpHeaderParser response_;
    qvResult headerResult_ = qv::kLayerOk;
    qvCString requestPath_;
    bool headerComplete_ = false;
    bool trailerSent_ = false;
    // Where the search for the end of the header resumes when more bytes come.
    size_t headerScanned_ = 0;
    int64_t receivedBody_ = 0;
    int64_t sentBody_ = 0;
    int64_t declaredBody_ = 0;
};
