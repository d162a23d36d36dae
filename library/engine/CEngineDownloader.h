#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/common/DeferredCall.h"
#include "library/engine/ILauncherEventListener.h"
#include "library/engine/SpeedWindow.h"
#include "library/jobs/CJobDownloader.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/link/nwICDNLocalClientEventListener.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

class CEngineLauncher;
class CFileVerifier;
class qvICDNLocalClientLayer;

namespace platform {
class EventLoop;
}

// Runs jobs through the local engine program: keeps the engine up to date
// and started (through its launcher), holds the link to it on
// 127.0.0.1:57006, hands it each job's file list and turns its reports into
// job events. When the engine cannot be prepared or keeps dying, it asks the
// manager to drop it, and the jobs continue on the direct path.
class CEngineDownloader final : public CJobDownloader,
                                public ILauncherEventListener,
                                public nwICDNLocalClientEventListener {
  public:
    static constexpr uint16_t kEnginePort = 57006;
    static constexpr uint32_t kWatchdogMs = 10000;
    // A link that stayed up longer than this resets the launch count.
    static constexpr int64_t kLongLivedSeconds = 30;
    static constexpr int32_t kMaxLaunches = 6;

    // Starts preparing the engine at once.
    CEngineDownloader(IJobDownloadEventListener* owner, qvSmartPtr<cpCMutex> lock,
                      platform::EventLoop& loop);
    ~CEngineDownloader() override;

    // Stored for every later link; sent at once when a link exists.
    void SetEngineText(const char* text);
    void Abandon() override;

    int32_t LaunchCount() const { return launchCount_; }
    bool Linked() const { return static_cast<bool>(link_); }

  protected:
    ResultCode Begin(CJob* job) override;
    void End(CJob* job) override;
    void Tick(CJob* job) override;
    ResultCode Answer(CJob* job, uint8_t resume, uint8_t remember) override;

    // ILauncherEventListener
    void OnLauncherFileBegin(const std::string& name, int64_t size) override;
    void OnLauncherProgress(const std::string& name, int64_t bytes) override;
    void OnLauncherReady() override;
    void OnLauncherFailed() override;
    void OnLauncherOffline() override;
    void OnLauncherPathFailed(int32_t kind) override;

    // nwICDNLocalClientEventListener
    void OnEngineConnected(uint32_t context) override;
    void OnJobAccepted(const nwCDNJobAcceptedRecord& record, uint32_t context) override;
    void OnJobError(const nwCDNJobErrorRecord& record, uint32_t context) override;
    void OnJobProgress(const nwCDNJobProgressRecord& record, uint32_t context) override;
    void OnFileCompleted(const nwCDNFileCompletedRecord& record, uint32_t context) override;
    void OnFileCompletedDetail(const nwCDNFileCompletedRecord& record, uint32_t context) override;
    void OnJobFinished(const nwCDNJobFinishedRecord& record, uint32_t context) override;
    void OnEngineNotice(const nwCDNEngineNoticeRecord& record, uint32_t context) override;
    void OnNetworkDown(const nwCDNNetworkRecord& record, uint32_t context) override;
    void OnNetworkUp(const nwCDNNetworkRecord& record, uint32_t context) override;
    void OnEngineClosed(uint32_t context) override;
    void OnEngineConnectFailed(uint32_t context) override;
    void OnResumeQuestion(uint32_t serial) override;
    void OnEngineStateMessage(uint32_t value, uint32_t context) override;

  private:
    struct PendingEngineJob {
        uint32_t engineKey = 0xFFFFFFFFu;  // until the engine accepts the job
        uint32_t serial = 0;
        CJob* job = nullptr;
        // Signed files still being verified; the engine's finish waits for them.
        int32_t verifying = 0;
        bool finished = false;
        int32_t finishedResult = 0;
        // A file failed its check: the job goes on on the direct path.
        bool refetch = false;
    };

    // A completed file: reported at once, or once it matched its signed digest.
    void OnEngineFileDone(PendingEngineJob& entry, const std::string& path,
                          const std::string& detail, bool hasDetail, const std::string& extra);
    void OnFileVerified(uint32_t serial, const std::string& path, const std::string& detail,
                        bool hasDetail, const std::string& extra, bool matches);
    // The engine finished the job and every file of it was checked.
    void FinishJob(PendingEngineJob* entry, int32_t result);

    void Launch();
    // The launcher goes after the call it may be reporting from has returned.
    void RetireLauncher();
    static void OnFreeRetired(void* self);
    void ConnectEngine();
    // Whether the other end of the new link runs as this user; logs when not.
    bool EngineIsOwnUsers();
    // Whether a completed-file report names a file of the job as the job
    // expects it; logs a refusal.
    bool TakeReport(CJob* job, const std::string& path);
    void DetachLink(bool close);
    bool Connected() const { return link_ && lastConnect_ != 0; }
    // False when a message could not be built (a name too long for its field).
    bool SendJob(CJob* job);
    void FallBack(CJob* job);
    // Begins every held job the engine has not been sent yet, in order.
    void SendWaitingJobs();

    PendingEngineJob* FindBySerial(uint32_t serial);
    PendingEngineJob* FindByKey(uint32_t serial, uint32_t engineKey);
    PendingEngineJob* FindByJob(const CJob* job);
    // Takes the entry out; the job it named, or none.
    CJob* TakeOut(PendingEngineJob* entry);

    void StartWatchdog();
    void RestartWatchdog();
    void StopWatchdog();
    static void OnWatchdog(void*) {}

    platform::EventLoop& loop_;
    std::unique_ptr<CEngineLauncher> launcher_;
    std::unique_ptr<CFileVerifier> verifier_;
    std::vector<std::unique_ptr<CEngineLauncher>> retiredLaunchers_;
    DeferredCall freeRetired_;
    qvSmartPtr<cpCQoSContext> link_;
    qvICDNLocalClientLayer* linkLayer_ = nullptr;
    qvSmartPtr<cpCTimer> watchdog_;
    int32_t launchCount_ = 0;
    int64_t lastConnect_ = 0;
    std::string engineText_;
    SpeedWindow jobSpeed_;
    SpeedWindow fileSpeed_;
    std::vector<PendingEngineJob> pending_;
    bool abandoned_ = false;
};
