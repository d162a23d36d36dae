#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "library/api/HostLink.h"
#include "library/api/TarvoLib.h"
#include "library/common/DeferredCall.h"
#include "library/jobs/CJob.h"
#include "library/jobs/CJobDownloader.h"
#include "library/jobs/IJobDownloadEventListener.h"
#include "library/sessions/IContentLengthCheckerEventListener.h"
#include "library/sessions/IDataDownloadSessionEventListener.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

class CContentLengthChecker;
class CDataDownloadSession;
class COstra;

namespace platform {
class EventLoop;
}

// The one object behind the entry functions. It lives on the worker thread,
// owns the job table, the job downloaders, the data download and the size
// checker, and turns their notifications into host events. Every operation
// reached from an entry function takes the engine lock for its whole run.
class CJobManager final : public IJobDownloadEventListener,
                          public IDataDownloadSessionEventListener,
                          public IContentLengthCheckerEventListener {
  public:
    // Runs on the worker thread with the engine lock held; starts the network core.
    CJobManager(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop);
    // Runs on the host's thread after the worker has ended.
    ~CJobManager();
    CJobManager(const CJobManager&) = delete;
    CJobManager& operator=(const CJobManager&) = delete;

    ResultCode SetUp(HostWindow window, EventCallback callback, uintptr_t context, uint8_t elevate);

    ResultCode DownloadData(const char* url);
    ResultCode GetDataSize(int64_t* size);
    ResultCode GetData(DataBuffer* buffer);
    ResultCode AddSizeCheckUrl(const char* url);
    ResultCode StartSizeCheck();
    ResultCode GetTotalSize(int64_t* size);

    ResultCode CreateJob(JobHandle* handle, const char* kind, const char* name);
    ResultCode RemoveJob(JobHandle handle);
    ResultCode AddFile(JobHandle handle, const char* url, const char* folder, const char* fileName,
                       int64_t size, int32_t optionA, int32_t optionB);
    ResultCode SetFileDigest(JobHandle handle, const char* url, const char* sha256Hex, int64_t size);
    ResultCode StartJob(JobHandle handle, uint8_t mode);
    ResultCode StopJob(JobHandle handle);
    ResultCode SetJobFlag(JobHandle handle);
    ResultCode AnswerResume(JobHandle handle, uint8_t resume, uint8_t remember);
    ResultCode SetEngineText(const char* text);

    ResultCode GetJobProgress(JobHandle handle, JobStatus* status);
    ResultCode GetRemainingSize(JobHandle handle, int64_t* size);
    ResultCode GetJobSize(JobHandle handle, JobSizeRecord* record);
    ResultCode GetJobResult(JobHandle handle, JobResultRecord* record);
    ResultCode GetCompletedFile(JobHandle handle, CompletedFileRecord* record);
    ResultCode GetJobMessageLength(JobHandle handle, int32_t* length);
    ResultCode GetJobMessage(JobHandle handle, JobMessage* message);

    // On the worker thread, before its loop is told to end: lets the
    // downloaders deliver their queued reports; done runs once they are out
    // or given up (see CJobDownloader::FlushReports).
    void FlushReports(std::function<void()> done);
    // When the worker's loop has ended.
    void ShutdownNetwork();

    cpCMutex& Lock() const { return *lock_; }
    const qvSmartPtr<cpCMutex>& LockRef() const { return lock_; }
    const HostLink& Host() const { return host_; }
    CJob* FindJob(JobHandle handle) const;
    size_t JobCount() const { return jobs_.size(); }

    // The downloaders jobs go to: the engine downloader while it exists, else the
    // direct one. Set-up installs them; tests install their own.
    void SetDirectDownloader(std::unique_ptr<CJobDownloader> downloader);
    void SetEngineDownloader(std::unique_ptr<CJobDownloader> downloader);
    CJobDownloader* DirectDownloader() const { return direct_.get(); }
    CJobDownloader* EngineDownloader() const { return engine_.get(); }

    // IJobDownloadEventListener
    void OnUpdateFileBegin(const char* name, int64_t size) override;
    void OnUpdateFileProgress(int64_t bytes) override;
    void OnEngineReady() override;
    void OnEngineFailed() override;
    void OnEngineLost() override;
    void OnJobFallback(CJob* job) override;
    void OnPathAccessFailed(int32_t kind) override;
    void OnEngineState(int32_t value) override;

    // IDataDownloadSessionEventListener
    void OnDataComplete(const void* data, int64_t size) override;
    void OnDataFailed(int32_t code) override;
    void OnDataTick() override;

    // IContentLengthCheckerEventListener
    void OnCheckComplete() override;
    void OnCheckFailed(int kind) override;

  private:
    CJobDownloader* ActiveDownloader() const;
    static void OnFreeDroppedEngine(void* self);
    JobHandle NextHandle();
    void RaiseManagerEvent(int32_t code) const;

    std::unique_ptr<CJobDownloader> direct_;
    std::unique_ptr<CJobDownloader> engine_;
    // A dropped engine downloader may still be on the stack (it is dropped
    // from inside its own reports); it goes at the next timer pass.
    std::unique_ptr<CJobDownloader> droppedEngine_;
    DeferredCall freeDroppedEngine_;
    qvSmartPtr<cpCMutex> lock_;
    platform::EventLoop* loop_;
    std::unique_ptr<COstra> ostra_;
    std::unique_ptr<CDataDownloadSession> dataSession_;
    std::unique_ptr<CContentLengthChecker> sizeChecker_;

    std::vector<std::unique_ptr<CJob>> jobs_;
    int32_t nextSerial_ = 0;
    JobHandle lastHandle_ = 0;
    HostLink host_;

    // Notification-only state of the engine path; no entry function reads it.
    std::string updateFileName_;
    int64_t updateFileSize_ = 0;
    int64_t updateBytes_ = 0;
    int32_t engineState_ = 0;
    int32_t engineStateKind_ = 0;
};
