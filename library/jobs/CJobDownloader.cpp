#include "library/jobs/CJobDownloader.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "library/common/Log.h"
#include "library/jobs/CJob.h"

CJobDownloader::CJobDownloader(IJobDownloadEventListener* owner, qvSmartPtr<cpCMutex> lock)
    : owner_(owner), lock_(std::move(lock)) {
    ResetLogFile();
    WriteLogFormat("[TarvoLib] Launch(%s)", kLibraryVersion);
}

CJobDownloader::~CJobDownloader() {
    if (tickTimer_)
        tickTimer_->Stop();
}

bool CJobDownloader::Holds(const CJob* job) const {
    return std::find(held_.begin(), held_.end(), job) != held_.end();
}

bool CJobDownloader::Release(CJob* job) {
    const auto it = std::find(held_.begin(), held_.end(), job);
    if (it == held_.end())
        return false;
    held_.erase(it);
    return true;
}

ResultCode CJobDownloader::StartJob(CJob* job) {
    std::lock_guard guard(*lock_);
    if (Holds(job))
        return tarvo::result::kJobHeld;
    networkOffline_ = false;
    job->SetState(JobState::Running);
    held_.push_back(job);
    StartTickTimer();
    const ResultCode result = Begin(job);
    if (result != tarvo::result::kSuccess) {
        // A job that did not begin is not held: a later start must not be
        // answered "already held".
        Release(job);
        job->SetState(JobState::Idle);
        StopTickTimerIfIdle();
    }
    return result;
}

ResultCode CJobDownloader::StopJob(CJob* job) {
    std::lock_guard guard(*lock_);
    if (!Release(job))
        return tarvo::result::kJobNotHeld;
    job->SetState(JobState::Idle);
    StopTickTimerIfIdle();
    End(job);
    return tarvo::result::kSuccess;
}

ResultCode CJobDownloader::AnswerResume(CJob* job, uint8_t resume, uint8_t remember) {
    std::lock_guard guard(*lock_);
    if (!Holds(job))
        return tarvo::result::kJobNotHeld;
    Answer(job, resume, remember);
    return tarvo::result::kSuccess;
}

void CJobDownloader::StartTickTimer() {
    if (tickTimer_)
        return;
    if (!tickTimer_.CreateInstance(qvClassId::kTimer))
        return;
    if (qv::Failed(tickTimer_->Start(kTickMs, &OnTickTimer, this, 0, qvSmartPtr<>(lock_.Get()))))
        tickTimer_.Reset();
}

void CJobDownloader::StopTickTimerIfIdle() {
    if (!held_.empty() || !tickTimer_)
        return;
    tickTimer_->Stop();
    tickTimer_.Reset();
}

void CJobDownloader::OnTickTimer(void* self) {
    static_cast<CJobDownloader*>(self)->RunTick();
}

void CJobDownloader::RunTick() {
    std::lock_guard guard(*lock_);
    // A job's tick may complete or fail it, which takes it out of held_.
    const std::vector<CJob*> jobs = held_;
    for (CJob* job : jobs) {
        if (!Holds(job))
            continue;
        Tick(job);
        if (Holds(job))
            ReportProgress(job);
    }
}

void CJobDownloader::ReportProgress(CJob* job) {
    if (job->State() == JobState::Running && job->Status().downloaded > 0)
        job->Raise(tarvo::event::kJobProgress);
}

void CJobDownloader::SetJobStatus(CJob* job, const JobStatus& status) {
    if (Holds(job))
        job->SetStatus(status);
}

void CJobDownloader::QueueJobMessage(CJob* job, int32_t code, const char* text) {
    if (!Holds(job))
        return;
    job->PushMessage(code, text);
    job->Raise(tarvo::event::kJobMessage);
}

void CJobDownloader::CompleteJob(CJob* job, int32_t valueA, int32_t valueB) {
    if (!Release(job))
        return;
    ReportProgress(job);
    job->SetState(JobState::Completed);
    job->PutResultRecord(JobResultRecord{static_cast<int32_t>(job->FileCount()), valueA, valueB});
    job->Raise(tarvo::event::kJobCompleted);
    StopTickTimerIfIdle();
}

void CJobDownloader::FailJob(CJob* job, int32_t code, const char* text) {
    if (!Release(job))
        return;
    // The message goes out although the job is no longer held.
    job->PushMessage(code, text);
    job->Raise(tarvo::event::kJobMessage);
}

void CJobDownloader::ReportFileDone(CJob* job, const char* path, const char* detail,
                                    const char* extra) {
    if (!Holds(job) || !path)
        return;
    FileEntry* entry = job->FindFile(path);
    if (!entry || entry->state == FileState::Done)
        return;
    entry->state = FileState::Done;
    CompletedFileRecord record = {};
    record.fileCount = job->Status().fileCount;
    record.sequence = job->NextCompletedSequence();
    std::snprintf(record.text, sizeof record.text, "%s,%s", extra ? extra : "",
                  detail && *detail ? detail : path);
    job->PushCompletedFile(record);
    job->Raise(tarvo::event::kFileCompleted);
}

void CJobDownloader::ReportSizeKnown(CJob* job, int32_t fileCount, int64_t total) {
    if (!Holds(job))
        return;
    if (job->State() != JobState::Running || job->Status().downloaded != 0)
        return;
    job->PutSizeRecord(JobSizeRecord{fileCount, total});
    job->Raise(tarvo::event::kJobSize);
}

void CJobDownloader::MarkAllOffline() {
    networkOffline_ = true;
    const std::vector<CJob*> jobs = held_;
    for (CJob* job : jobs)
        QueueJobMessage(job, tarvo::message::kNetworkDown, nullptr);
}

void CJobDownloader::HandBack(CJob* job) {
    if (Release(job))
        StopTickTimerIfIdle();
}

void CJobDownloader::Abandon() {
    std::lock_guard guard(*lock_);
    held_.clear();
    StopTickTimerIfIdle();
}
