#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/common/DeferredCall.h"
#include "library/direct/IPlatformFileSizeCheckSessionEventListener.h"
#include "library/jobs/FileEntry.h"
#include "library/sessions/HttpRequest.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

// Finds the size of one file entry from the response header of a GET and
// checks that the file fits on the drive of the entry's folder. The entry's
// URL text is a mirror list split at "|"; each mirror gets three attempts (a
// redirect uses one) before the next is tried. Every answer short of a usable
// length is a failed attempt, so that a broken mirror gives way to the next;
// only a file that does not fit ends the check at once. Runs on the worker
// thread under the engine lock.
class CPlatformFileSizeCheckSession final : public nwIHttpClientExEventListener {
  public:
    static constexpr int32_t kAttemptsPerUrl = 3;
    static constexpr int32_t kTimeoutSeconds = 3;
    static constexpr size_t kMaxReportedUrl = 1023;

    explicit CPlatformFileSizeCheckSession(IPlatformFileSizeCheckSessionEventListener* listener);
    virtual ~CPlatformFileSizeCheckSession();
    CPlatformFileSizeCheckSession(const CPlatformFileSizeCheckSession&) = delete;
    CPlatformFileSizeCheckSession& operator=(const CPlatformFileSizeCheckSession&) = delete;

    // entry is not owned and must outlive the session; its size is set when
    // found. The outcome always arrives later, never inside this call.
    void Start(FileEntry* entry);
    // Releases the connection; the listener hears nothing more.
    void Stop();

    FileEntry* Entry() const { return entry_; }
    int32_t Attempts() const { return attempts_; }
    int32_t UrlIndex() const { return urlIndex_; }
    const std::string& Url() const { return url_; }
    const std::string& RedirectUrl() const { return redirectUrl_; }
    const std::vector<std::string>& UrlList() const { return urls_; }

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
    void Try();
    // The current attempt ended without a usable answer.
    void Retry();
    void Fail(int32_t code);
    static void OnRefusedTimer(void* self);

    HttpRequest request_;
    FileEntry* entry_ = nullptr;
    int32_t attempts_ = 0;
    int32_t urlIndex_ = 0;
    std::string url_;
    std::string redirectUrl_;
    std::vector<std::string> urls_;
    // Runs the next attempt after a URL the layer refused at once, so that the
    // checker never hears of it inside its own call.
    DeferredCall refused_;
    IPlatformFileSizeCheckSessionEventListener* listener_ = nullptr;
};
