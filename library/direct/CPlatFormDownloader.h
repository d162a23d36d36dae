#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "library/direct/ICheckerEventListener.h"
#include "library/direct/IPlatFormSessionEventListener.h"
#include "library/jobs/CJobDownloader.h"

class CJob;
class CPlatformFileSizeChecker;
class CPlatformReporter;
class CPlatformSession;

// Downloads a job's files itself over HTTP, without the local engine: first a
// size check over all of the job's files, then one session over the same
// files; the session's notifications become job events, and at the end the
// per-file byte counts go to the reporter. The fallback of the engine path.
class CPlatFormDownloader final : public CJobDownloader,
                                  public IPlatFormSessionEventListener,
                                  public ICheckerEventListener {
  public:
    CPlatFormDownloader(IJobDownloadEventListener* owner, qvSmartPtr<cpCMutex> lock);
    ~CPlatFormDownloader() override;

    // Tests point the reporter elsewhere.
    CPlatformReporter& Reporter() { return *reporter_; }

    void FlushReports(std::function<void()> done) override;

  protected:
    ResultCode Begin(CJob* job) override;
    void End(CJob* job) override;
    // The connectivity check, once a second.
    void Tick(CJob* job) override;

    // IPlatFormSessionEventListener
    void OnSessionComplete(void* context) override;
    void OnSessionError(void* context, const char* text) override;
    void OnFileComplete(void* context, const FileEntry& entry) override;
    void OnSessionProgress(void* context) override;
    void OnPathCreated(const char* path, void* context) override;
    void OnSessionMessage(void* context, int32_t code, const char* text) override;

    // ICheckerEventListener
    void OnSizeCheckComplete(uintptr_t context, const SizeCheckResult& result) override;
    void OnSizeCheckFailed(uintptr_t context, int32_t code, const char* url) override;

  private:
    // One per job that has begun and not ended.
    struct DownloadContext {
        std::unique_ptr<CPlatformFileSizeChecker> checker;
        std::unique_ptr<CPlatformSession> session;
        // The token its checker and session call back with: never reused, so a
        // late callback of a freed context cannot be taken for a newer one
        // that happens to sit at the same address.
        uint64_t id = 0;
        CJob* job = nullptr;
        int64_t total = 0;
        int64_t presentAtStart = 0;
        int32_t fileCount = 0;
        int32_t filesCompleted = 0;
        int64_t startSeconds = 0;
        ~DownloadContext();
    };

    DownloadContext* FindContext(const CJob* job) const;
    // The held context with this token; a late callback of one that has gone
    // finds none.
    DownloadContext* Known(uint64_t token) const;
    static void* SessionToken(uint64_t id);
    static uint64_t FromSessionToken(const void* token);
    std::unique_ptr<DownloadContext> TakeContext(DownloadContext* context);
    void Retire(std::unique_ptr<DownloadContext> context);
    void FreeRetired();
    void Report(DownloadContext& context);
    JobStatus ComputeJobStatus(const DownloadContext& context) const;

    std::vector<std::unique_ptr<DownloadContext>> contexts_;
    // Contexts taken out from inside one of their own callbacks: freed at the
    // next entry into the downloader, after the callback has returned.
    std::vector<std::unique_ptr<DownloadContext>> retired_;
    std::vector<std::unique_ptr<CPlatformFileSizeChecker>> retiredCheckers_;
    std::unique_ptr<CPlatformReporter> reporter_;
    uint64_t lastContextId_ = 0;
};
