#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/common/DeferredCall.h"
#include "library/sessions/HttpRequest.h"
#include "library/sessions/IContentLengthCheckSessionEventListener.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

// Learns the Content-Length of one file from the response header of a GET and
// drops the connection before the body. The URL text is a mirror list split
// at "|": each mirror gets at most three attempts (a redirect uses one, and a
// redirect target that cannot be opened fails one), and a mirror that cannot
// be reached at all gives way at once; the check fails only with the last
// mirror. Runs on the worker thread under the engine lock.
class CContentLengthCheckSession final : public nwIHttpClientExEventListener {
  public:
    static constexpr int32_t kMaxAttempts = 3;
    static constexpr int32_t kReceiveTimeoutSeconds = 3;

    // url: mirror URLs separated by "|", asked in order.
    CContentLengthCheckSession(int32_t index, const char* url,
                               IContentLengthCheckSessionEventListener* checker);
    virtual ~CContentLengthCheckSession();
    CContentLengthCheckSession(const CContentLengthCheckSession&) = delete;
    CContentLengthCheckSession& operator=(const CContentLengthCheckSession&) = delete;

    // The first attempt. The outcome always arrives later, from the network or
    // a timer, never inside this call.
    void Start();
    // Releases the connection; the checker hears nothing more.
    void Stop();

    int32_t Index() const { return index_; }
    // Attempts on the current mirror.
    int32_t Attempts() const { return attempts_; }
    int64_t Length() const { return length_; }
    // The current mirror.
    const std::string& Url() const { return url_; }
    const std::string& RedirectUrl() const { return redirectUrl_; }
    const std::string& FailureReason() const { return failureReason_; }

    // nwIHttpClientExEventListener
    void OnConnect(uint32_t) override {}
    void OnResponseHeader(uint32_t context) override;
    int32_t OnReceiveData(uint32_t context, const uint8_t* data, uint32_t length) override;
    void OnReceiveComplete(uint32_t) override {}
    void OnSendComplete(uint32_t) override {}
    void OnClose(uint32_t context) override;
    void OnConnectTimeout(uint32_t context) override;
    void OnReceiveTimeout(uint32_t context) override;
    void OnHostUnreachable(uint32_t context) override;

  private:
    void Attempt();
    // Moves to the next mirror with a fresh count; false after the last.
    bool NextMirror();
    void Unreachable();
    static void OnRefusedTimer(void* self);

    int32_t attempts_ = 0;
    int32_t index_ = -1;
    int64_t length_ = 0;
    std::vector<std::string> urls_;
    size_t urlIndex_ = 0;
    std::string url_;
    std::string redirectUrl_;
    std::string failureReason_;
    HttpRequest request_;
    // Delivers a URL the layer refused at once on the next timer tick, so that
    // the checker never hears of it inside its own call.
    DeferredCall refused_;
    IContentLengthCheckSessionEventListener* checker_ = nullptr;
};
