#include "library/jobs/CJobManager.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "library/api/LibraryState.h"
#include "library/common/DirectoryPath.h"
#include "library/common/Log.h"
#include "library/direct/CPlatFormDownloader.h"
#include "library/engine/CEngineDownloader.h"
#include "library/engine/EnginePathConfig.h"
#include "library/sessions/CContentLengthChecker.h"
#include "library/sessions/CDataDownloadSession.h"
#include "ostra/norvikqos/core/COstra.h"

namespace {

using namespace tarvo;

constexpr size_t kUpdateNameMax = 1039;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Trims ASCII white space; bytes of multi-byte characters are never white space.
std::string Trim(const char* text) {
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && IsSpace(*begin))
        ++begin;
    while (end > begin && IsSpace(end[-1]))
        --end;
    return std::string(begin, end);
}

}  // namespace

CJobManager::CJobManager(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop)
    : lock_(std::move(lock)), loop_(loop) {
    ostra_ = std::make_unique<COstra>(lock_, loop);
}

CJobManager::~CJobManager() {
    std::lock_guard guard(*lock_);
    jobs_.clear();
    engine_.reset();
    freeDroppedEngine_.Cancel();
    droppedEngine_.reset();
    direct_.reset();
    dataSession_.reset();
    sizeChecker_.reset();
    ostra_.reset();
}

ResultCode CJobManager::SetUp(HostWindow window, EventCallback callback, uintptr_t context,
                              uint8_t elevate) {
    std::lock_guard guard(*lock_);
    host_ = HostLink{window, callback, context};
    SetElevateFlag(elevate);
    // The engine downloader starts preparing the engine at once; jobs go to it
    // while it exists.
    if (loop_ && EnginePathEnabled())
        engine_ = std::make_unique<CEngineDownloader>(this, lock_, *loop_);
    direct_ = std::make_unique<CPlatFormDownloader>(this, lock_);
    return result::kSuccess;
}

void CJobManager::FlushReports(std::function<void()> done) {
    std::lock_guard guard(*lock_);
    // Only the direct path has a reporter; the engine reports on its own.
    if (direct_)
        direct_->FlushReports(std::move(done));
    else
        done();
}

void CJobManager::ShutdownNetwork() {
    std::lock_guard guard(*lock_);
    if (ostra_)
        ostra_->Stop();
}

void CJobManager::SetDirectDownloader(std::unique_ptr<CJobDownloader> downloader) {
    std::lock_guard guard(*lock_);
    direct_ = std::move(downloader);
}

void CJobManager::SetEngineDownloader(std::unique_ptr<CJobDownloader> downloader) {
    std::lock_guard guard(*lock_);
    engine_ = std::move(downloader);
}

CJobDownloader* CJobManager::ActiveDownloader() const {
    return engine_ ? engine_.get() : direct_.get();
}

CJob* CJobManager::FindJob(JobHandle handle) const {
    for (const auto& job : jobs_) {
        if (job->Handle() == handle)
            return job.get();
    }
    return nullptr;
}

JobHandle CJobManager::NextHandle() {
    // Handles are never reused while the process lives (short of wrapping), so
    // a stale handle cannot name a newer job.
    do {
        ++lastHandle_;
    } while (lastHandle_ == 0 || FindJob(lastHandle_));
    return lastHandle_;
}

void CJobManager::RaiseManagerEvent(int32_t code) const {
    host_.Raise(code, reinterpret_cast<uintptr_t>(this));
}

// --- data download and size check (their sessions arrive with the network layers)

ResultCode CJobManager::DownloadData(const char* url) {
    std::lock_guard guard(*lock_);
    if (!dataSession_) {
        dataSession_ = std::make_unique<CDataDownloadSession>();
        dataSession_->SetListener(this);
    }
    dataSession_->Start(url);
    return result::kSuccess;
}

ResultCode CJobManager::GetDataSize(int64_t* size) {
    std::lock_guard guard(*lock_);
    if (!dataSession_)
        return result::kNotReady;
    int64_t known = 0;
    if (dataSession_->GetDataSize(&known) == result::kSuccess && size)
        *size = known;
    return result::kSuccess;
}

ResultCode CJobManager::GetData(DataBuffer* buffer) {
    std::lock_guard guard(*lock_);
    return dataSession_ ? dataSession_->GetData(buffer) : result::kNotReady;
}

ResultCode CJobManager::AddSizeCheckUrl(const char* url) {
    std::lock_guard guard(*lock_);
    if (!sizeChecker_) {
        sizeChecker_ = std::make_unique<CContentLengthChecker>();
        sizeChecker_->SetListener(this);
    }
    return sizeChecker_->AddUrl(url);
}

ResultCode CJobManager::StartSizeCheck() {
    std::lock_guard guard(*lock_);
    if (!sizeChecker_) {
        TraceDiagnostic("[TarvoLib_D] 0x0003");
        return result::kNotReady;
    }
    sizeChecker_->Start();
    return result::kSuccess;
}

ResultCode CJobManager::GetTotalSize(int64_t* size) {
    std::lock_guard guard(*lock_);
    if (sizeChecker_ && size)
        *size = sizeChecker_->Total();
    return result::kSuccess;
}

// --- jobs

ResultCode CJobManager::CreateJob(JobHandle* handle, const char* kind, const char* name) {
    if (!handle)
        return result::kNotReady;
    std::lock_guard guard(*lock_);
    if (FindJob(*handle))
        return result::kNotReady;
    auto job = std::make_unique<CJob>(NextHandle(), nextSerial_++, kind, name, host_);
    *handle = job->Handle();
    jobs_.push_back(std::move(job));
    return result::kSuccess;
}

ResultCode CJobManager::RemoveJob(JobHandle handle) {
    std::lock_guard guard(*lock_);
    const auto it = std::find_if(jobs_.begin(), jobs_.end(),
                                 [handle](const auto& job) { return job->Handle() == handle; });
    if (it == jobs_.end())
        return result::kNotReady;
    std::unique_ptr<CJob> job = std::move(*it);
    jobs_.erase(it);
    for (CJobDownloader* downloader : {engine_.get(), direct_.get()}) {
        if (downloader && downloader->Holds(job.get()))
            downloader->StopJob(job.get());
    }
    return result::kSuccess;
}

ResultCode CJobManager::AddFile(JobHandle handle, const char* url, const char* folder,
                                const char* fileName, int64_t size, int32_t optionA,
                                int32_t optionB) {
    if (size < -1 || size == 0)
        return result::kInvalidSize;
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job)
        return result::kNotReady;
    if (!folder || !EnsureDirectoryPath(folder)) {
        OnPathAccessFailed(2);
        return result::kMissingFolder;
    }
    if (job->State() != JobState::Idle)
        return result::kNotReady;
    if (!url || !*url)
        return result::kMissingUrl;

    const std::string trimmedUrl = Trim(url);
    std::string name;
    if (fileName && *fileName) {
        name = fileName;
    } else {
        const size_t slash = trimmedUrl.rfind('/');
        name = slash == std::string::npos ? trimmedUrl : trimmedUrl.substr(slash + 1);
    }
    const std::string normalised = NormaliseFolder(folder);
    job->downloadFolder_ = normalised.substr(0, 259);
    if (job->FindFile(normalised + name))
        return result::kNotReady;

    auto entry = std::make_unique<FileEntry>();
    entry->index = static_cast<int32_t>(job->FileCount());
    entry->url = trimmedUrl;
    entry->folder = normalised;
    entry->name = name;
    std::strncpy(entry->jobName, job->Name(), sizeof entry->jobName - 1);
    entry->size = size;
    entry->optionA = optionA;
    entry->optionB = optionB;
    job->AddFile(std::move(entry));
    return result::kSuccess;
}

ResultCode CJobManager::SetFileDigest(JobHandle handle, const char* url, const char* sha256Hex,
                                      int64_t size) {
    if (size < 0)
        return result::kInvalidSize;
    const std::optional<Sha256Digest> digest =
        ParseSha256Hex(sha256Hex ? std::string_view(sha256Hex) : std::string_view());
    if (!url || !digest)
        return result::kNotReady;
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || job->State() != JobState::Idle)
        return result::kNotReady;
    const std::string trimmedUrl = Trim(url);
    bool found = false;
    for (size_t i = 0; i < job->FileCount(); ++i) {
        FileEntry& file = job->File(i);
        if (file.url != trimmedUrl)
            continue;
        file.expected = FileDigest{*digest, size};
        found = true;
    }
    return found ? result::kSuccess : result::kNotReady;
}

ResultCode CJobManager::StartJob(JobHandle handle, uint8_t mode) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || job->FileCount() == 0)
        return result::kNotReady;
    CJobDownloader* downloader = ActiveDownloader();
    if (!downloader)
        return result::kNotReady;
    job->SetMode(mode);
    return downloader->StartJob(job);
}

ResultCode CJobManager::StopJob(JobHandle handle) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job)
        return result::kNotReady;
    for (CJobDownloader* downloader : {engine_.get(), direct_.get()}) {
        if (downloader && downloader->Holds(job))
            return downloader->StopJob(job);
    }
    return result::kNotReady;
}

ResultCode CJobManager::SetJobFlag(JobHandle handle) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job)
        return result::kNotReady;
    job->SetFlag();
    return result::kSuccess;
}

ResultCode CJobManager::AnswerResume(JobHandle handle, uint8_t resume, uint8_t remember) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    CJobDownloader* downloader = ActiveDownloader();
    if (!job || !downloader)
        return result::kNotReady;
    return downloader->AnswerResume(job, resume, remember);
}

ResultCode CJobManager::SetEngineText(const char* text) {
    std::lock_guard guard(*lock_);
    if (auto* engine = dynamic_cast<CEngineDownloader*>(engine_.get()))
        engine->SetEngineText(text);
    return result::kSuccess;
}

// --- job records

ResultCode CJobManager::GetJobProgress(JobHandle handle, JobStatus* status) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || !status)
        return result::kNotReady;
    *status = job->Status();
    return result::kSuccess;
}

ResultCode CJobManager::GetRemainingSize(JobHandle handle, int64_t* size) {
    if (!size)
        return result::kNotReady;
    std::lock_guard guard(*lock_);
    JobStatus status = {};
    if (CJob* job = FindJob(handle))
        status = job->Status();
    if (status.total != 0) {
        *size = status.total - status.downloaded;
        return result::kSuccess;
    }
    // Before a job knows its size, the host's size check stands in for it.
    if (!sizeChecker_)
        return result::kNotReady;
    *size = sizeChecker_->Total();
    return result::kSuccess;
}

ResultCode CJobManager::GetJobSize(JobHandle handle, JobSizeRecord* record) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || !record)
        return result::kNotReady;
    if (auto pending = job->TakeSizeRecord())
        *record = *pending;
    return result::kSuccess;
}

ResultCode CJobManager::GetJobResult(JobHandle handle, JobResultRecord* record) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || !record)
        return result::kNotReady;
    if (auto pending = job->TakeResultRecord())
        *record = *pending;
    return result::kSuccess;
}

ResultCode CJobManager::GetCompletedFile(JobHandle handle, CompletedFileRecord* record) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || !record)
        return result::kNotReady;
    if (auto pending = job->TakeCompletedFile())
        *record = *pending;
    return result::kSuccess;
}

ResultCode CJobManager::GetJobMessageLength(JobHandle handle, int32_t* length) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || !length)
        return result::kNotReady;
    *length = job->PeekMessageLength();
    return result::kSuccess;
}

ResultCode CJobManager::GetJobMessage(JobHandle handle, JobMessage* message) {
    std::lock_guard guard(*lock_);
    CJob* job = FindJob(handle);
    if (!job || !message)
        return result::kNotReady;
    int32_t code = 0;
    std::string text;
    bool hasText = false;
    if (!job->TakeMessage(code, text, hasText)) {
        message->code = result::kSuccess;
        return result::kSuccess;
    }
    message->code = code;
    if (hasText && message->text)
        std::memcpy(message->text, text.c_str(), text.size() + 1);
    return result::kSuccess;
}

// --- listener operations (worker thread)

void CJobManager::OnUpdateFileBegin(const char* name, int64_t size) {
    {
        std::lock_guard guard(*lock_);
        updateFileName_ = std::string(name ? name : "").substr(0, kUpdateNameMax);
        updateFileSize_ = size;
        updateBytes_ = 0;
    }
    host_.Raise(event::kUpdateFile, 0);
}

void CJobManager::OnUpdateFileProgress(int64_t bytes) {
    {
        std::lock_guard guard(*lock_);
        updateBytes_ = bytes;
    }
    host_.Raise(event::kUpdateProgress, 0);
}

void CJobManager::OnEngineReady() {
    host_.Raise(event::kEngineReady, 0);
}

void CJobManager::OnEngineFailed() {
    host_.Raise(event::kEngineFailed, 0);
}

void CJobManager::OnEngineLost() {
    std::lock_guard guard(*lock_);
    if (engine_) {
        engine_->Abandon();
        droppedEngine_ = std::move(engine_);
        // Without a timer it stays, quiet, until the manager goes.
        freeDroppedEngine_.Schedule(0, &OnFreeDroppedEngine, this);
    }
    if (!direct_)
        return;
    for (const auto& job : jobs_) {
        if (job->State() == JobState::Running)
            direct_->StartJob(job.get());
    }
}

void CJobManager::OnFreeDroppedEngine(void* self) {
    auto* manager = static_cast<CJobManager*>(self);
    std::lock_guard guard(*manager->lock_);
    manager->droppedEngine_.reset();
}

void CJobManager::OnJobFallback(CJob* job) {
    std::lock_guard guard(*lock_);
    const bool known = std::any_of(jobs_.begin(), jobs_.end(),
                                   [job](const auto& held) { return held.get() == job; });
    if (known && direct_)
        direct_->StartJob(job);
}

void CJobManager::OnPathAccessFailed(int32_t kind) {
    int32_t code = 0;
    const char* line = nullptr;
    if (kind == 1) {
        code = event::kEnginePathFailed;
        line = "[TarvoLib] engine path access failed";
    } else if (kind == 2) {
        code = event::kDownloadPathFailed;
        line = "[TarvoLib] download path access failed";
    } else {
        return;
    }
    if (host_.window)
        WriteLog(line);
    RaiseManagerEvent(code);
}

void CJobManager::OnEngineState(int32_t value) {
    engineState_ = value;
    engineStateKind_ = value != 0 ? 1 : 2;
    host_.Raise(event::kEngineState, 0);
}

void CJobManager::OnDataComplete(const void*, int64_t) {
    host_.Raise(event::kDataComplete, 0);
}

void CJobManager::OnDataFailed(int32_t) {
    host_.Raise(event::kDataFailed, 0);
}

void CJobManager::OnDataTick() {
    host_.Raise(event::kDataTick, 0);
}

void CJobManager::OnCheckComplete() {
    host_.Raise(event::kSizeCheckComplete, 0);
}

void CJobManager::OnCheckFailed(int kind) {
    TraceDiagnostic(kind == 1 ? "[TarvoLib_D] File Size Check Failed. 0x0011"
                              : "[TarvoLib_D] File Size Check Failed. 0x0012");
    host_.Raise(event::kSizeCheckFailed, 0);
}
