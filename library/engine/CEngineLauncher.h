#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "library/common/DeferredCall.h"
#include "library/engine/IDownloaderEventListener.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

class CDownloader;
class ILauncherEventListener;

namespace platform {
class EventLoop;
}

// Brings the local engine up to date and starts it, through the engine
// updater, and tells its listener (the engine downloader) whether the engine
// is worth connecting to.
class CEngineLauncher final : public IDownloaderEventListener {
  public:
    // Creates the updater; the update starts from the next timer pass, so
    // that no outcome reaches the listener from inside its own call that
    // made the launcher.
    CEngineLauncher(ILauncherEventListener* listener, platform::EventLoop& loop,
                    qvSmartPtr<cpCMutex> lock, std::string manifestUrl);
    ~CEngineLauncher();
    CEngineLauncher(const CEngineLauncher&) = delete;
    CEngineLauncher& operator=(const CEngineLauncher&) = delete;

    // None detaches: the launcher then reports nothing.
    void SetListener(ILauncherEventListener* listener) { listener_ = listener; }

    // IDownloaderEventListener
    void OnUpdaterOffline() override;
    void OnUpdaterFileBegin(const std::string& name, int64_t size) override;
    void OnUpdaterProgress(const std::string& name, int64_t bytes) override;
    void OnPatchResult(EngineStart started, int32_t updateOk, const std::string& version) override;
    void OnUpdaterPathFailed(int32_t kind) override;

  private:
    static void OnStart(void* self);

    std::unique_ptr<CDownloader> updater_;
    ILauncherEventListener* listener_;
    std::string manifestUrl_;
    DeferredCall start_;
};
