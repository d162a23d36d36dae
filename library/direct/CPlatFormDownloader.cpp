#include "library/direct/CPlatFormDownloader.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "library/common/Log.h"
#include "library/direct/CPlatformFileSizeChecker.h"
#include "library/direct/CPlatformReporter.h"
#include "library/direct/CPlatformSession.h"
#include "library/direct/ReportRecord.h"
#include "library/jobs/CJob.h"
#include "platform/Clock.h"
#include "platform/NetworkState.h"

namespace {

int64_t NowSeconds() {
    return platform::Clock().Now().seconds;
}

int32_t PercentOf(int64_t done, int64_t total) {
    if (total <= 0 || done <= 0)
        return 0;
    return static_cast<int32_t>(done * 100 / total);
}

}  // namespace

CPlatFormDownloader::DownloadContext::~DownloadContext() {
    // Detach before deleting, so that nothing calls back into a context that goes.
    if (checker)
        checker->SetListener(nullptr, 0);
    if (session)
        session->SetListener(nullptr, nullptr);
    checker.reset();
    session.reset();
}

CPlatFormDownloader::CPlatFormDownloader(IJobDownloadEventListener* owner,
                                         qvSmartPtr<cpCMutex> lock)
    : CJobDownloader(owner, std::move(lock)), reporter_(std::make_unique<CPlatformReporter>()) {}

CPlatFormDownloader::~CPlatFormDownloader() {
    {
        std::lock_guard guard(EngineLock());
        contexts_.clear();
        FreeRetired();
        reporter_.reset();
    }
    WriteLog("[TarvoLib] CPlatFormDownloader Destroy");
}

CPlatFormDownloader::DownloadContext* CPlatFormDownloader::FindContext(const CJob* job) const {
    for (const auto& context : contexts_) {
        if (context->job == job)
            return context.get();
    }
    return nullptr;
}

CPlatFormDownloader::DownloadContext* CPlatFormDownloader::Known(uint64_t token) const {
    if (token == 0)
        return nullptr;
    for (const auto& held : contexts_) {
        if (held->id == token)
            return held.get();
    }
    return nullptr;
}

// The session's listener context is an opaque word; it carries the id, never
// the context's address.
void* CPlatFormDownloader::SessionToken(uint64_t id) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(id));
}

uint64_t CPlatFormDownloader::FromSessionToken(const void* token) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(token));
}

std::unique_ptr<CPlatFormDownloader::DownloadContext> CPlatFormDownloader::TakeContext(
    DownloadContext* context) {
    const auto it = std::find_if(contexts_.begin(), contexts_.end(),
                                 [context](const auto& held) { return held.get() == context; });
    if (it == contexts_.end())
        return nullptr;
    std::unique_ptr<DownloadContext> taken = std::move(*it);
    contexts_.erase(it);
    return taken;
}

void CPlatFormDownloader::FreeRetired() {
    retired_.clear();
    retiredCheckers_.clear();
}

void CPlatFormDownloader::Retire(std::unique_ptr<DownloadContext> context) {
    if (!context)
        return;
    if (context->checker)
        context->checker->SetListener(nullptr, 0);
    if (context->session)
        context->session->SetListener(nullptr, nullptr);
    retired_.push_back(std::move(context));
}

ResultCode CPlatFormDownloader::Begin(CJob* job) {
    if (FindContext(job))
        return tarvo::result::kNotReady;
    if (NetworkOffline())
        return tarvo::result::kOffline;
    std::lock_guard guard(EngineLock());
    FreeRetired();
    WriteLog("[TarvoLib] CPlatFormDownloader Begin");
    auto context = std::make_unique<DownloadContext>();
    context->job = job;
    context->id = ++lastContextId_;
    DownloadContext* raw = context.get();
    contexts_.push_back(std::move(context));
    raw->checker = std::make_unique<CPlatformFileSizeChecker>();
    raw->checker->SetListener(this, static_cast<uintptr_t>(raw->id));
    // The check may finish (or fail) from inside Start.
    raw->checker->Check(*job);
    return tarvo::result::kSuccess;
}

void CPlatFormDownloader::End(CJob* job) {
    DownloadContext* context = FindContext(job);
    if (!context)
        return;
    std::lock_guard guard(EngineLock());
    Report(*context);
    TakeContext(context).reset();
    FreeRetired();
}

void CPlatFormDownloader::Tick(CJob* job) {
    FreeRetired();
    const bool up = platform::IsInternetConnected();
    if (up && NetworkOffline()) {
        SetNetworkOffline(false);
        QueueJobMessage(job, tarvo::message::kNetworkBack, nullptr);
    } else if (!up && !NetworkOffline()) {
        MarkAllOffline();
    }
}

void CPlatFormDownloader::OnSizeCheckComplete(uintptr_t token, const SizeCheckResult& result) {
    DownloadContext* context = Known(static_cast<uint64_t>(token));
    if (!context)
        return;
    WriteLog("[TarvoLib] CPlatFormDownloader FileSizeCheck Completed");
    CJob* job = context->job;
    ReportSizeKnown(job, result.entryCount, result.totalSize);
    context->total = result.totalSize;
    context->presentAtStart = result.totalDownloaded;
    context->fileCount = result.entryCount;
    context->startSeconds = NowSeconds();
    // The checker is done; it goes once its callback has returned.
    if (context->checker) {
        context->checker->SetListener(nullptr, 0);
        retiredCheckers_.push_back(std::move(context->checker));
    }
    context->session = std::make_unique<CPlatformSession>();
    context->session->SetListener(this, SessionToken(context->id));
    context->session->SetJobMode(job->Mode());
    context->session->StartFiles(*job);
}

void CPlatFormDownloader::OnSizeCheckFailed(uintptr_t token, int32_t code, const char* url) {
    DownloadContext* context = Known(static_cast<uint64_t>(token));
    if (!context)
        return;
    CJob* job = context->job;
    Retire(TakeContext(context));
    FailJob(job, code, url);
}

void CPlatFormDownloader::OnSessionProgress(void* token) {
    if (DownloadContext* context = Known(FromSessionToken(token)))
        SetJobStatus(context->job, ComputeJobStatus(*context));
}

void CPlatFormDownloader::OnFileComplete(void* token, const FileEntry& entry) {
    DownloadContext* context = Known(FromSessionToken(token));
    if (!context)
        return;
    ++context->filesCompleted;
    const std::string path = entry.LocalPath();
    ReportFileDone(context->job, path.c_str(), nullptr, entry.url.c_str());
}

void CPlatFormDownloader::OnSessionComplete(void* token) {
    DownloadContext* context = Known(FromSessionToken(token));
    if (!context)
        return;
    const int32_t filesCompleted = context->session ? context->filesCompleted : 0;
    Report(*context);
    CJob* job = context->job;
    SetJobStatus(job, ComputeJobStatus(*context));
    Retire(TakeContext(context));
    CompleteJob(job, filesCompleted, 0);
}

void CPlatFormDownloader::OnSessionError(void* token, const char* text) {
    if (DownloadContext* context = Known(FromSessionToken(token)))
        QueueJobMessage(context->job, tarvo::message::kDownloadFailed, text);
}

void CPlatFormDownloader::OnSessionMessage(void* token, int32_t code, const char* text) {
    if (DownloadContext* context = Known(FromSessionToken(token)))
        QueueJobMessage(context->job, code, text);
}

void CPlatFormDownloader::FlushReports(std::function<void()> done) {
    reporter_->Flush(std::move(done));
}

// Created files are not tracked: nothing reads such a list.
void CPlatFormDownloader::OnPathCreated(const char*, void*) {}

void CPlatFormDownloader::Report(DownloadContext& context) {
    if (!context.session)
        return;
    const size_t count = context.session->ExportReportRecords(nullptr, 0);
    if (count == 0)
        return;
    std::vector<ReportRecord> records(count);
    context.session->ExportReportRecords(records.data(), records.size());
    reporter_->Report(static_cast<uint32_t>(records.size()), records.data());
}

JobStatus CPlatFormDownloader::ComputeJobStatus(const DownloadContext& context) const {
    JobStatus status = {};
    status.total = context.total;
    status.fileCount = context.fileCount;
    if (context.session) {
        status.downloaded = context.session->GetWrittenBytes();
        status.filesCompleted = context.filesCompleted;
    }
    status.percent = PercentOf(status.downloaded, status.total);
    status.elapsed = NowSeconds() - context.startSeconds;
    int64_t speed = 0;
    if (status.elapsed > 0 && status.downloaded >= 0 && context.presentAtStart < status.downloaded)
        speed = (status.downloaded - context.presentAtStart) / status.elapsed;
    status.speed = static_cast<int32_t>(speed);
    status.remaining = (status.total - status.downloaded) / (speed == 0 ? 1 : speed);
    if (const FileEntry* entry = context.session ? context.session->CurrentEntry() : nullptr) {
        status.currentIndex = entry->index;
        status.currentSize = entry->size;
        status.currentDone = entry->receivedBytes + entry->committedBytes;
        status.currentSpeed = status.speed;
        status.currentRemaining = status.remaining;
        status.currentPercent = PercentOf(status.currentDone, status.currentSize);
        std::strncpy(status.currentName, entry->name.c_str(), sizeof status.currentName - 1);
    }
    return status;
}
