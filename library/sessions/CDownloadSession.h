#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/sessions/HttpRequest.h"
#include "library/sessions/IDownloadSessionEventListener.h"
#include "library/sessions/IProgressFile.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"

// Fetches the URLs a download record names, one after another, each body whole
// into memory, and delivers every body to the record. Size and progress of the
// record's main file go to the owner. A 302 or 303 is followed (relative
// targets resolved against the URL that answered, at most kMaxRedirects) and
// the body is delivered under the record's own URL. It does not retry: a failure ends the
// request and is reported once with a session error code.
//
// Meant for small documents: a body is held by the connection until it is
// complete, then copied once, so a body is at most kMaxBodyBytes and a larger
// Content-Length fails at the header, before anything is buffered. Runs on
// the worker thread with the engine lock held. The owner may delete the
// session from inside any listener call, so the session touches nothing of
// its own after calling out.
class CDownloadSession final : public nwIHttpClientExEventListener {
  public:
    static constexpr int32_t kMaxRedirects = 16;
    // The engine's update files (manifest, hash lists, archives).
    static constexpr int64_t kMaxBodyBytes = int64_t{64} << 20;

    CDownloadSession() = default;
    virtual ~CDownloadSession();
    CDownloadSession(const CDownloadSession&) = delete;
    CDownloadSession& operator=(const CDownloadSession&) = delete;

    // Also forgets the kind of the current URL.
    void SetListener(IDownloadSessionEventListener* listener, uint32_t sessionId);
    void SetFile(IProgressFile* file) { file_ = file; }
    IProgressFile* File() const { return file_; }
    // Fetches the record's next URL; nothing happens when it names none. A
    // request still running is closed first.
    void Start();

    bool IsBusy() const { return busy_; }
    const std::string& Url() const { return url_; }

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

  private:
    void Request();
    void Redirect(qvIHttpClientExLayer& layer);
    void Fail(int32_t code);
    bool IsMainFile() const { return kind_ == IProgressFile::kMainFile; }

    IDownloadSessionEventListener* listener_ = nullptr;
    uint32_t sessionId_ = 0;
    HttpRequest request_;
    std::string url_;
    // The URL asked for now: url_, or where its redirects led.
    std::string requestUrl_;
    int32_t redirects_ = 0;
    std::vector<uint8_t> body_;
    int64_t expected_ = 0;
    IProgressFile* file_ = nullptr;
    bool busy_ = false;
    int32_t kind_ = 0;
};
