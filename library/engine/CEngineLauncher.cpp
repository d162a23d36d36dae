#include "library/engine/CEngineLauncher.h"

#include "library/common/Log.h"
#include "library/engine/CDownloader.h"
#include "library/engine/ILauncherEventListener.h"

CEngineLauncher::CEngineLauncher(ILauncherEventListener* listener, platform::EventLoop& loop,
                                 qvSmartPtr<cpCMutex> lock, std::string manifestUrl)
    : updater_(std::make_unique<CDownloader>(this, loop, std::move(lock))),
      listener_(listener),
      manifestUrl_(std::move(manifestUrl)) {
    // Without a timer (no network core) the update cannot run at all.
    if (!start_.Schedule(0, &OnStart, this))
        updater_->Start(manifestUrl_);
}

CEngineLauncher::~CEngineLauncher() {
    start_.Cancel();
    updater_.reset();
}

void CEngineLauncher::OnStart(void* self) {
    auto* launcher = static_cast<CEngineLauncher*>(self);
    launcher->updater_->Start(launcher->manifestUrl_);
}

void CEngineLauncher::OnUpdaterOffline() {
    if (listener_)
        listener_->OnLauncherOffline();
}

void CEngineLauncher::OnUpdaterFileBegin(const std::string& name, int64_t size) {
    if (listener_)
        listener_->OnLauncherFileBegin(name, size);
}

void CEngineLauncher::OnUpdaterProgress(const std::string& name, int64_t bytes) {
    if (listener_)
        listener_->OnLauncherProgress(name, bytes);
}

void CEngineLauncher::OnPatchResult(EngineStart started, int32_t updateOk,
                                    const std::string& version) {
    // A success needs an engine that runs: an installed engine that could not
    // start (or could not listen) is no success.
    const bool success = updateOk != 0 && !version.empty() && started == EngineStart::Ready;
    WriteLog(success ? "[TarvoLib] Patch Success" : "[TarvoLib] Patch Fail");
    if (!listener_)
        return;
    // An engine that cannot start on this system is not tried again, nor
    // connected to; one that may start another time (or whose place another
    // engine of the user's holds) still gets a connection when the update
    // itself was in order.
    if (started == EngineStart::Ready ||
        (started == EngineStart::NotStarted && updateOk == 1))
        listener_->OnLauncherReady();
    else
        listener_->OnLauncherFailed();
}

void CEngineLauncher::OnUpdaterPathFailed(int32_t kind) {
    if (listener_)
        listener_->OnLauncherPathFailed(kind);
}
