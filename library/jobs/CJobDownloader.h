#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "library/api/TarvoLib.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

class CJob;
class IJobDownloadEventListener;

// Common base of the job downloaders: holds the jobs a downloader works on,
// runs their one-second tick and offers the helpers through which a downloader
// updates a job's records. Runs on the worker thread under the engine lock,
// except where the manager calls in from the host's thread (also under it).
class CJobDownloader {
  public:
    static constexpr uint32_t kTickMs = 1000;
    static constexpr const char* kLibraryVersion = "3.5.0.2";

    // Resets the log file and writes the launch line.
    CJobDownloader(IJobDownloadEventListener* owner, qvSmartPtr<cpCMutex> lock);
    virtual ~CJobDownloader();
    CJobDownloader(const CJobDownloader&) = delete;
    CJobDownloader& operator=(const CJobDownloader&) = delete;

    // 515 when already held; else marks the job running, holds it, makes sure
    // the tick runs and returns what Begin answers.
    ResultCode StartJob(CJob* job);
    // 516 when not held; else lets it go (state back to idle) and calls End.
    ResultCode StopJob(CJob* job);
    // 516 when not held; else Answer.
    ResultCode AnswerResume(CJob* job, uint8_t resume, uint8_t remember);

    bool Holds(const CJob* job) const;
    size_t HeldCount() const { return held_.size(); }
    bool TickRunning() const { return static_cast<bool>(tickTimer_); }
    // The one-second tick: each held job's Tick, then its progress event.
    void RunTick();
    // At shutdown: tries to deliver what is queued for a report host and calls
    // done once nothing more will go out (at once when nothing is queued). It
    // never waits; done runs later on the worker thread, or not at all if the
    // downloader goes first.
    virtual void FlushReports(std::function<void()> done) { done(); }
    // The manager drops this downloader: it lets go of every held job (their
    // states stay, so another downloader can take them up) and reports
    // nothing more. It is deleted later, outside the call that dropped it.
    virtual void Abandon();

  protected:
    virtual ResultCode Begin(CJob* job) = 0;
    virtual void End(CJob* job) = 0;
    virtual void Tick(CJob* job) = 0;
    virtual ResultCode OnIdle() { return tarvo::result::kSuccess; }
    virtual ResultCode Answer(CJob*, uint8_t /*resume*/, uint8_t /*remember*/) {
        return tarvo::result::kSuccess;
    }

    // Helpers for the derived downloaders; each does nothing for a job that is
    // not held.
    void SetJobStatus(CJob* job, const JobStatus& status);
    void QueueJobMessage(CJob* job, int32_t code, const char* text);
    void CompleteJob(CJob* job, int32_t valueA, int32_t valueB);
    void FailJob(CJob* job, int32_t code, const char* text);
    void ReportFileDone(CJob* job, const char* path, const char* detail, const char* extra);
    void ReportSizeKnown(CJob* job, int32_t fileCount, int64_t total);
    void MarkAllOffline();
    // Lets a job go without ending it (its state stays), for another
    // downloader to take it up; stops the tick when none is left.
    void HandBack(CJob* job);

    bool NetworkOffline() const { return networkOffline_; }
    void SetNetworkOffline(bool offline) { networkOffline_ = offline; }
    IJobDownloadEventListener* Owner() const { return owner_; }
    const std::vector<CJob*>& HeldJobs() const { return held_; }
    cpCMutex& EngineLock() const { return *lock_; }
    const qvSmartPtr<cpCMutex>& LockRef() const { return lock_; }

  private:
    static void OnTickTimer(void* self);
    void StartTickTimer();
    void StopTickTimerIfIdle();
    bool Release(CJob* job);
    static void ReportProgress(CJob* job);

    bool networkOffline_ = false;
    qvSmartPtr<cpCTimer> tickTimer_;
    std::vector<CJob*> held_;
    IJobDownloadEventListener* const owner_;
    qvSmartPtr<cpCMutex> lock_;
};
