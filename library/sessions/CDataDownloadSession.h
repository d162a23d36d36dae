#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "library/api/TarvoLib.h"
#include "library/sessions/HttpRequest.h"
#include "library/sessions/IDataDownloadSessionEventListener.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "platform/BodyBuffer.h"

// Fetches one URL into memory (the file list and other small documents),
// following 302 and 303 redirects (relative targets resolved against the URL
// that answered, at most kMaxRedirects), and ticks its listener once a second while
// it runs. A body is at most kMaxDataBytes: a larger Content-Length fails at
// the header, before anything is stored. Every failure is reported once with a
// session error code; it does not retry. Runs on the worker thread under the
// engine lock.
class CDataDownloadSession final : public nwIHttpClientExEventListener, public nwIHttpBodyTarget {
  public:
    static constexpr int kMaxRedirects = 16;
    // The file list and the skin package are small documents; a server that
    // announces more is not to be believed with the memory it would take.
    static constexpr int64_t kMaxDataBytes = int64_t{16} << 20;

    CDataDownloadSession() = default;
    virtual ~CDataDownloadSession();

    void SetListener(IDataDownloadSessionEventListener* listener) { listener_ = listener; }
    // An empty URL does nothing; a running request is closed first.
    void Start(const char* url);
    // 512 with the size once it is known, else 517.
    ResultCode GetDataSize(int64_t* size) const;
    // 512 when the record's size equals the fetched size exactly; else 517.
    ResultCode GetData(DataBuffer* buffer) const;

    bool IsRunning() const { return request_.IsRunning(); }
    const std::string& Url() const { return url_; }
    const std::string& RedirectUrl() const { return redirectUrl_; }

    // nwIHttpClientExEventListener
    void OnConnect(uint32_t context) override;
    void OnResponseHeader(uint32_t context) override;
    int32_t OnReceiveData(uint32_t context, const uint8_t* data, uint32_t length) override;
    void OnReceiveComplete(uint32_t context) override;
    void OnSendComplete(uint32_t) override {}
    void OnClose(uint32_t context) override;
    void OnConnectTimeout(uint32_t context) override;
    void OnReceiveTimeout(uint32_t context) override;
    void OnHostUnreachable(uint32_t context) override;

    // nwIHttpBodyTarget: the body's own storage, so that a plain connection
    // receives into it and no copy is made before the host's.
    uint8_t* BodyTarget(uint32_t context, uint32_t& room) override;
    int32_t OnBodyWritten(uint32_t context, uint32_t length) override;

  private:
    void StartRequest(const std::string& url);
    void StopRequest(bool reportFailure);
    void Fail(int32_t code, bool reportFailure);
    static void OnTick(void* self);

    IDataDownloadSessionEventListener* listener_ = nullptr;
    // The body, sized from Content-Length and written once as it arrives;
    // GetData copies it to the host.
    platform::BodyBuffer buffer_;
    int64_t received_ = 0;
    int64_t expected_ = 0;
    qvSmartPtr<cpCTimer> tick_;
    HttpRequest request_;
    std::string url_;
    std::string redirectUrl_;
    int redirects_ = 0;
};
