#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/sessions/IDownloadSessionEventListener.h"
#include "library/update/CDownloadFileList.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "platform/ProcessStart.h"

class CDownloadSession;
class IDownloaderEventListener;

namespace platform {
class EventLoop;
}

// The engine updater: fetches the update manifest, then every archive it
// asks for (each checked against its hash list and unpacked by the update
// list), then starts the engine and reports the outcome. Failed downloads are
// retried by the list's attempt rules; while the network is down the updater
// retries once a second without a limit. Runs on the worker thread under the
// engine lock; the engine's readiness is awaited on the loop, never blocking.
class CDownloader final : public IDownloadSessionEventListener {
  public:
    static constexpr uint32_t kOfflineRetryMs = 1000;

    CDownloader(IDownloaderEventListener* listener, platform::EventLoop& loop,
                qvSmartPtr<cpCMutex> lock);
    ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Starts the update with the manifest at manifestUrl.
    void Start(const std::string& manifestUrl);
    bool Offline() const { return static_cast<bool>(retryTimer_); }

    // IDownloadSessionEventListener
    void OnDownloadStart(uint32_t session) override;
    void OnDownloadComplete(uint32_t session, const SessionResult& result) override;
    void OnDownloadError(uint32_t session, int32_t code) override;
    void OnDownloadSize(uint32_t session, const std::string& url, int64_t size) override;
    void OnDownloadProgress(uint32_t session, const std::string& url, int64_t bytes) override;

  private:
    struct Session {
        uint32_t id = 0;
        std::unique_ptr<CDownloadSession> session;
    };

    CDownloadSession* FindSession(uint32_t id) const;
    void DeleteSession(uint32_t id);
    // Gives the next update file to a free session (a new one when create is
    // set); 1 when one started. An empty list ends the update.
    int StartNextUpdateFile(bool create);
    void GoOffline();
    void StopRetryTimer();
    static void OnRetryTimer(void* self);
    void RunAndReport();
    void ReportPatch(const platform::StartOutcome& outcome);

    IDownloaderEventListener* listener_;
    platform::EventLoop& loop_;
    qvSmartPtr<cpCMutex> lock_;
    CDownloadFileList list_;
    int32_t updateOk_ = 1;
    std::vector<Session> sessions_;
    uint32_t lastSessionId_ = 0;
    qvSmartPtr<cpCTimer> retryTimer_;
    std::unique_ptr<platform::ProcessStart> engineWait_;
    // The outcome is reported once, however the update ends.
    bool reported_ = false;
};
