#pragma once

#include <cstdint>

#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvIUnknown.h"

// What the HTTP client layer tells its user about its one request; every call
// passes the listener context first.
class nwIHttpClientExEventListener {
  public:
    virtual void OnConnect(uint32_t context) = 0;
    // Status, length and headers are readable from now on.
    virtual void OnResponseHeader(uint32_t context) = 0;
    // Body bytes; answers how many it consumed (the rest is offered again).
    virtual int32_t OnReceiveData(uint32_t context, const uint8_t* data, uint32_t length) = 0;
    // The body reached a positive Content-Length.
    virtual void OnReceiveComplete(uint32_t context) = 0;
    virtual void OnSendComplete(uint32_t context) = 0;
    // The last call: the layer forgets its listener afterwards.
    virtual void OnClose(uint32_t context) = 0;
    virtual void OnConnectTimeout(uint32_t context) = 0;
    virtual void OnReceiveTimeout(uint32_t context) = 0;
    virtual void OnHostUnreachable(uint32_t context) = 0;

  protected:
    ~nwIHttpClientExEventListener() = default;
};

// Storage a listener offers for the rest of a body whose length it knows, so
// that the layer can have the bytes received straight into it rather than
// handed over through OnReceiveData. Calls pass the listener context first.
class nwIHttpBodyTarget {
  public:
    // Where the next body bytes go and how many fit there; null for none, and
    // the bytes come through OnReceiveData.
    virtual uint8_t* BodyTarget(uint32_t context, uint32_t& room) = 0;
    // length bytes were written at the last target; answers how many it took,
    // as OnReceiveData does.
    virtual int32_t OnBodyWritten(uint32_t context, uint32_t length) = 0;

  protected:
    ~nwIHttpBodyTarget() = default;
};

// The application face of the HTTP client layer: one request per instance.
class qvIHttpClientExLayer : public qvIUnknown {
  public:
    virtual qvResult SetEventListener(nwIHttpClientExEventListener* listener, uint32_t context) = 0;
    // Splits the URL, resolves it through the host address cache and connects
    // (with TLS at the bottom of the stack for https).
    virtual qvResult Open(const char* url) = 0;
    virtual qvResult SetRequestHeader(const char* name, const char* value) = 0;
    virtual qvResult SetQueryParameter(const char* name, const char* value) = 0;
    virtual qvResult GetStatusCode(int32_t& status) = 0;
    virtual qvResult GetContentLength(int64_t& length) = 0;
    virtual qvResult GetResponseHeader(const char* name, qvCString& value) = 0;
    virtual qvResult GetRawResponseHeader(qvCString& text) = 0;
    virtual qvResult SendGet() = 0;
    virtual qvResult SendPost(int64_t bodyLength) = 0;
    virtual qvResult SendData(const void* data, uint32_t length) = 0;
    // Offers storage for the body, used where the connection can receive into
    // it (no TLS, no bandwidth budget); null withdraws it. Forgotten, like the
    // listener, on SetEventListener and at the close.
    virtual qvResult SetBodyTarget(nwIHttpBodyTarget* target) = 0;
};
