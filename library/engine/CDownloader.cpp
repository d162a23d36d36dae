#include "library/engine/CDownloader.h"

#include <mutex>

#include "library/actions/CBinaryExecute_V3.h"
#include "library/common/CGetPath_Brenholt.h"
#include "library/common/Log.h"
#include "library/common/PublisherKey.h"
#include "library/engine/IDownloaderEventListener.h"
#include "library/sessions/CDownloadSession.h"
#include "library/sessions/SessionError.h"
#include "library/update/EngineFileRecord.h"
#include "library/update/UpdateResult.h"
#include "platform/NetworkState.h"

CDownloader::CDownloader(IDownloaderEventListener* listener, platform::EventLoop& loop,
                         qvSmartPtr<cpCMutex> lock)
    : listener_(listener), loop_(loop), lock_(std::move(lock)) {
    WriteLog("[TarvoLib] Initialize Downloader");
}

CDownloader::~CDownloader() {
    StopRetryTimer();
    // Sessions go before the list whose records they point to.
    for (Session& s : sessions_) {
        s.session->SetListener(nullptr, 0);
        s.session->SetFile(nullptr);
    }
    sessions_.clear();
    engineWait_.reset();
    WriteLog("[TarvoLib] Finalize Downloader");
}

void CDownloader::Start(const std::string& manifestUrl) {
    // The manifest record has no hash list, folder or name.
    list_.AddUpdateFile(manifestUrl, "", "", "");
    StartNextUpdateFile(true);
    WriteLog("[TarvoLib] Begin Update");
}

CDownloadSession* CDownloader::FindSession(uint32_t id) const {
    for (const Session& s : sessions_) {
        if (s.id == id)
            return s.session.get();
    }
    return nullptr;
}

void CDownloader::DeleteSession(uint32_t id) {
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (it->id != id)
            continue;
        // The session may be reporting from inside its own call; it touches
        // nothing of its own after calling out, so it can go at once.
        std::unique_ptr<CDownloadSession> session = std::move(it->session);
        sessions_.erase(it);
        session->SetListener(nullptr, 0);
        session->SetFile(nullptr);
        return;
    }
}

int CDownloader::StartNextUpdateFile(bool create) {
    if (list_.HasUpdateFiles() == 0) {
        RunAndReport();
        return 0;
    }
    CDownloadSession* session = nullptr;
    for (const Session& s : sessions_) {
        if (!s.session->File()) {
            session = s.session.get();
            break;
        }
    }
    if (!session && create) {
        Session made{++lastSessionId_, std::make_unique<CDownloadSession>()};
        made.session->SetListener(this, made.id);
        session = made.session.get();
        sessions_.push_back(std::move(made));
    }
    if (!session)
        return 0;
    CDownloadFile* file = list_.NextUpdateFile();
    if (!file)
        return 0;
    session->SetFile(file);
    // The session may report (and be deleted) from inside Start.
    session->Start();
    return 1;
}

void CDownloader::OnDownloadStart(uint32_t) {
    // A connection was made: the network is back, and attempts count again.
    StopRetryTimer();
    list_.SetUnlimitedAttempts(false);
}

void CDownloader::OnDownloadSize(uint32_t, const std::string& url, int64_t size) {
    if (listener_)
        listener_->OnUpdaterFileBegin(url, size);
}

void CDownloader::OnDownloadProgress(uint32_t, const std::string& url, int64_t bytes) {
    if (listener_)
        listener_->OnUpdaterProgress(url, bytes);
}

void CDownloader::OnDownloadComplete(uint32_t id, const SessionResult& result) {
    CDownloadSession* session = FindSession(id);
    if (!session)
        return;
    session->SetFile(nullptr);
    const int32_t code = result.result;
    const bool ok = code == kUpdateHandled || code == kUpdateUnpackParam;
    if (code == kUpdateUnpackFailed || code == kUpdateNoEngineFolder) {
        WriteLogFormat("[TarvoLib] 엔진 다운로드 실패 result : %d", code);
        if (listener_)
            listener_->OnUpdaterPathFailed(1);
        return;
    }
    if (code == 9)
        WriteLogFormat("[TarvoLib] 방화벽 이미지파일 등록 실패 result : %d", code);
    if (code >= 1 && code <= 6)
        updateOk_ = 0;
    list_.FinishUpdateFile(result.url, ok);
    WriteLogFormat("[TarvoLib] Download Completed (URL: %s)(Code: %d)", result.url.c_str(), code);
    if (result.kind == kKindManifest) {
        const int files = list_.HasUpdateFiles();
        if (files == 0) {
            RunAndReport();
            return;
        }
        for (int i = 0; i < files; ++i)
            StartNextUpdateFile(true);
        return;
    }
    // An archive, or a body the record could not place: the next file, if any.
    StartNextUpdateFile(false);
}

void CDownloader::OnDownloadError(uint32_t id, int32_t code) {
    CDownloadSession* session = FindSession(id);
    if (code == 2) {
        if (listener_)
            listener_->OnPatchResult(EngineStart::NotStarted, 0, list_.NewVersion());
        return;
    }
    const std::string url = session ? session->Url() : std::string();
    list_.FinishUpdateFile(url, false);
    WriteLogFormat("[TarvoLib] Session Error (URL: %s)(Code: %d)", url.c_str(), code);
    DeleteSession(id);
    // An unreachable host means offline only while the network is down; with
    // the network up the server itself is at fault, and waiting for it
    // without end would keep every job from starting.
    if (code == kSessionHostUnreachable && !platform::IsInternetConnected()) {
        GoOffline();
        return;
    }
    if (code == kSessionHostUnreachable && Offline()) {
        StopRetryTimer();
        list_.SetUnlimitedAttempts(false);
    }
    StartNextUpdateFile(true);
}

void CDownloader::GoOffline() {
    if (retryTimer_)
        return;
    list_.SetUnlimitedAttempts(true);
    if (!retryTimer_.CreateInstance(qvClassId::kTimer) ||
        qv::Failed(
            retryTimer_->Start(kOfflineRetryMs, &OnRetryTimer, this, 0, qvSmartPtr<>(lock_.Get()))))
        retryTimer_.Reset();
    if (listener_)
        listener_->OnUpdaterOffline();
}

void CDownloader::StopRetryTimer() {
    if (!retryTimer_)
        return;
    retryTimer_->Stop();
    retryTimer_.Reset();
}

void CDownloader::OnRetryTimer(void* self) {
    auto* updater = static_cast<CDownloader*>(self);
    if (updater->sessions_.empty())
        updater->StartNextUpdateFile(true);
}

void CDownloader::RunAndReport() {
    if (reported_)
        return;
    reported_ = true;
    StopRetryTimer();
    // With a publisher key only an engine installed from a signed update, and
    // unchanged since, is started.
    if (!PublisherKey().empty()) {
        std::string enginePath;
        CGetPath_Brenholt::Instance().GetEnginePath(enginePath);
        if (list_.Refused() || !EngineFileMatchesRecord(enginePath)) {
            WriteLog(list_.Refused() ? "[TarvoLib] Engine Not Started: The Update Was Refused"
                                     : "[TarvoLib] Engine Not Started: Not As Installed");
            // Not started; an engine that already runs may still be used.
            ReportPatch(platform::StartOutcome{});
            return;
        }
    }
    // The engine's readiness is awaited on the loop; the outcome goes out
    // once it is ready or its start failed.
    platform::StartOutcome failure;
    const int started = CBinaryExecute_V3::Instance().RunEngine(
        loop_,
        [this](const platform::StartOutcome& outcome) {
            std::lock_guard guard(*lock_);
            ReportPatch(outcome);
        },
        engineWait_, failure);
    if (!started)
        ReportPatch(failure);
}

void CDownloader::ReportPatch(const platform::StartOutcome& outcome) {
    const EngineStart started = outcome.IsReady() ? EngineStart::Ready
                                : outcome.lasting ? EngineStart::CannotStart
                                                  : EngineStart::NotStarted;
    if (listener_)
        listener_->OnPatchResult(started, updateOk_, list_.NewVersion());
}
