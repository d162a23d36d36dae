#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "engine/http/TrustAnchors.h"
#include "engine/jobs/ITransferBackend.h"
#include "platform/EventLoop.h"

namespace engine::http {

class CurlTransfer;

// HTTP and HTTPS through one curl multi handle driven by the engine's event
// loop: curl's sockets and its timer are watched there, so every file of every
// job moves in the same loop without a thread of its own.
class CurlBackend final : public jobs::ITransferBackend, private platform::IFdHandler {
  public:
    CurlBackend(platform::EventLoop& loop, const TrustAnchors& anchors);
    ~CurlBackend() override;
    CurlBackend(const CurlBackend&) = delete;
    CurlBackend& operator=(const CurlBackend&) = delete;

    bool IsValid() const { return multi_ && timerFd_ >= 0; }

    std::unique_ptr<jobs::ITransfer> StartDownload(uint32_t id,
                                                   const jobs::TransferRequest& request,
                                                   jobs::ITransferListener& listener) override;
    std::unique_ptr<jobs::ITransfer> StartSizeProbe(uint32_t id,
                                                    const std::vector<std::string>& mirrors,
                                                    jobs::ITransferListener& listener) override;

    // For CurlTransfer: put an easy handle into (or out of) the multi handle
    // with the options every request shares, the URL among them (the
    // redirects allowed depend on its scheme).
    void Add(CURL* easy);
    void Remove(CURL* easy);
    void ApplyCommonOptions(CURL* easy, const std::string& url);

  private:
    class SocketWatch;

    void OnFdReady(uint32_t events) override;  // the timer
    void Action(curl_socket_t fd, int flags);
    void CollectFinished();
    static int OnSocket(CURL* easy, curl_socket_t fd, int what, void* self, void* socketData);
    static int OnTimer(CURLM* multi, long timeoutMs, void* self);
    static CURLcode OnSslContext(CURL* easy, void* sslContext, void* self);

    platform::EventLoop& loop_;
    const TrustAnchors& anchors_;
    CURLM* multi_ = nullptr;
    int timerFd_ = -1;
    std::unordered_map<curl_socket_t, std::unique_ptr<SocketWatch>> sockets_;
};

}  // namespace engine::http
