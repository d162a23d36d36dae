#include "library/engine/CEngineDownloader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "library/common/Log.h"
#include "library/engine/CEngineLauncher.h"
#include "library/engine/CFileVerifier.h"
#include "library/engine/EnginePathConfig.h"
#include "library/engine/EngineReportCheck.h"
#include "library/jobs/CJob.h"
#include "library/jobs/IJobDownloadEventListener.h"
#include "ostra/norvikqos/link/qvICDNLocalClientLayer.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"
#include "platform/Clock.h"
#include "platform/NetworkState.h"
#include "platform/PeerOwner.h"
#include "platform/SocketOps.h"

namespace {

using namespace tarvo;

constexpr uint32_t kNoKey = nwCDNLocal::kNoEngineKey;
constexpr int32_t kConnectTimeoutSeconds = 1;
constexpr size_t kCurrentNameMax = 65;

int64_t NowSeconds() {
    return platform::Clock().Now().seconds;
}

int32_t PercentOf(int64_t done, int64_t total) {
    if (total <= 0 || done <= 0)
        return 0;
    return static_cast<int32_t>(done * 100 / total);
}

int64_t SecondsLeft(int64_t total, int64_t done, int64_t speed) {
    if (total <= done)
        return 0;
    return static_cast<int64_t>(static_cast<uint64_t>(total - done) /
                                static_cast<uint64_t>(speed > 0 ? speed : 1));
}

}  // namespace

CEngineDownloader::CEngineDownloader(IJobDownloadEventListener* owner, qvSmartPtr<cpCMutex> lock,
                                     platform::EventLoop& loop)
    : CJobDownloader(owner, std::move(lock)),
      loop_(loop),
      verifier_(std::make_unique<CFileVerifier>(loop, LockRef())) {
    std::lock_guard guard(EngineLock());
    Launch();
}

CEngineDownloader::~CEngineDownloader() {
    {
        std::lock_guard guard(EngineLock());
        DetachLink(true);
        if (launcher_)
            launcher_->SetListener(nullptr);
        launcher_.reset();
        freeRetired_.Cancel();
        retiredLaunchers_.clear();
        pending_.clear();
        StopWatchdog();
    }
    WriteLog("[TarvoLib] CEngineDownloader Destroy");
}

void CEngineDownloader::Launch() {
    launcher_ = std::make_unique<CEngineLauncher>(this, loop_, LockRef(), UpdateManifestUrl());
    ++launchCount_;
}

void CEngineDownloader::RetireLauncher() {
    if (!launcher_)
        return;
    launcher_->SetListener(nullptr);
    retiredLaunchers_.push_back(std::move(launcher_));
    if (!freeRetired_.Pending())
        freeRetired_.Schedule(0, &OnFreeRetired, this);
}

void CEngineDownloader::OnFreeRetired(void* self) {
    static_cast<CEngineDownloader*>(self)->retiredLaunchers_.clear();
}

void CEngineDownloader::Abandon() {
    std::lock_guard guard(EngineLock());
    abandoned_ = true;
    DetachLink(true);
    RetireLauncher();
    pending_.clear();
    StopWatchdog();
    CJobDownloader::Abandon();
}

void CEngineDownloader::SetEngineText(const char* text) {
    std::lock_guard guard(EngineLock());
    engineText_ = text ? text : "";
    if (linkLayer_)
        linkLayer_->SendEngineText(engineText_);
}

// --- the link

void CEngineDownloader::ConnectEngine() {
    if (link_ || abandoned_)
        return;
    uint32_t ip = 0;
    if (qv::Failed(platform::sock::Resolve("127.0.0.1", ip)))
        return;
    qvSmartPtr<cpCQoSContext> context;
    if (!context.CreateInstance(qvClassId::kQoSContext))
        return;
    std::lock_guard guard(EngineLock());
    if (qv::Failed(context->Initialize(1, qvWatch::kConnectFailed, nullptr)))
        return;
    context->SetTimeout(qvTimeoutKind::kConnect, &kConnectTimeoutSeconds);
    qvSmartPtr<> top;
    if (qv::Succeeded(context->PushLayer(qvClassId::kCDNLocalClientLayer, false)))
        top = context->GetTopLayer();
    auto* layer = dynamic_cast<qvICDNLocalClientLayer*>(top.Get());
    if (!layer) {
        context->Close();
        qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(context.Get()));
        return;
    }
    link_ = context;
    linkLayer_ = layer;
    layer->SetEventListener(this, 0);
    // Queued before the connection exists, so it is the first message on the wire.
    layer->SendEngineText(engineText_);
    // A refused connect may be reported from inside; nothing here is touched after.
    context->Connect(cpAddress{ip, kEnginePort});
}

void CEngineDownloader::DetachLink(bool close) {
    if (!link_)
        return;
    qvSmartPtr<cpCQoSContext> context = std::move(link_);
    link_.Reset();
    if (linkLayer_)
        linkLayer_->SetEventListener(nullptr, 0);
    linkLayer_ = nullptr;
    if (close)
        context->Close();
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(context.Get()));
}

// --- pending jobs

CEngineDownloader::PendingEngineJob* CEngineDownloader::FindBySerial(uint32_t serial) {
    for (PendingEngineJob& p : pending_) {
        if (p.serial == serial)
            return &p;
    }
    return nullptr;
}

CEngineDownloader::PendingEngineJob* CEngineDownloader::FindByKey(uint32_t serial,
                                                                  uint32_t engineKey) {
    for (PendingEngineJob& p : pending_) {
        if (p.serial == serial && p.engineKey == engineKey)
            return &p;
    }
    return nullptr;
}

CEngineDownloader::PendingEngineJob* CEngineDownloader::FindByJob(const CJob* job) {
    for (PendingEngineJob& p : pending_) {
        if (p.job == job)
            return &p;
    }
    return nullptr;
}

CJob* CEngineDownloader::TakeOut(PendingEngineJob* entry) {
    if (!entry)
        return nullptr;
    CJob* job = entry->job;
    pending_.erase(pending_.begin() + (entry - pending_.data()));
    return job;
}

// --- watchdog

void CEngineDownloader::StartWatchdog() {
    if (watchdog_)
        return;
    if (!watchdog_.CreateInstance(qvClassId::kTimer) ||
        qv::Failed(watchdog_->Start(kWatchdogMs, &OnWatchdog, this, cpTimerTag::kEngineDownloader,
                                    qvSmartPtr<>(LockRef().Get()))))
        watchdog_.Reset();
}

void CEngineDownloader::RestartWatchdog() {
    if (watchdog_)
        watchdog_->Restart();
    else
        StartWatchdog();
}

void CEngineDownloader::StopWatchdog() {
    if (!watchdog_)
        return;
    watchdog_->Stop();
    watchdog_.Reset();
}

// --- job operations

ResultCode CEngineDownloader::Begin(CJob* job) {
    if (FindByJob(job))
        return result::kNotReady;
    if (NetworkOffline())
        return result::kOffline;
    // Until the engine is connected the job waits; the connection sends it.
    if (!Connected())
        return result::kSuccess;
    pending_.push_back(PendingEngineJob{kNoKey, static_cast<uint32_t>(job->Serial()), job});
    if (!SendJob(job)) {
        // The engine can never be told of this job: it goes the direct way.
        TakeOut(FindByJob(job));
        FallBack(job);
        return result::kSuccess;
    }
    StartWatchdog();
    return result::kSuccess;
}

bool CEngineDownloader::SendJob(CJob* job) {
    qvICDNLocalClientLayer& layer = *linkLayer_;
    const auto serial = static_cast<uint32_t>(job->Serial());
    bool ok = true;
    if (*job->Kind())
        ok = qv::Succeeded(layer.SendJobKind({job->Kind()})) && ok;
    ok = qv::Succeeded(layer.SendJobMode({static_cast<uint8_t>(job->Mode() != 0 ? 2 : 1)})) && ok;
    if (job->Flag())
        ok = qv::Succeeded(layer.SendJobFlag(serial)) && ok;

    std::vector<nwCDNJobListEntry> entries;
    entries.reserve(job->FileCount());
    size_t size = nwCDNLocal::kListHeaderSize;
    for (size_t i = 0; i < job->FileCount(); ++i) {
        const FileEntry& f = job->File(i);
        entries.push_back({static_cast<uint8_t>(f.optionA), static_cast<uint8_t>(f.optionB), f.size,
                           f.folder, f.name, f.url});
        size += nwCDNLocal::kListEntryFixedSize + f.url.size();
    }
    const nwCDNJobListHeader header{serial, static_cast<uint32_t>(entries.size()), job->Name()};
    if (size <= nwCDNLocal::kMaxOneMessageList)
        return qv::Succeeded(layer.SendJobList({header, entries})) && ok;
    ok = qv::Succeeded(layer.SendJobListBegin(header)) && ok;
    for (uint32_t i = 0; i < entries.size(); ++i)
        ok = qv::Succeeded(layer.SendJobFile({serial, i, entries[i]})) && ok;
    return qv::Succeeded(layer.SendJobListEnd(serial)) && ok;
}

void CEngineDownloader::FallBack(CJob* job) {
    QueueJobMessage(job, message::kEngineGaveUp, nullptr);
    HandBack(job);
    Owner()->OnJobFallback(job);
}

void CEngineDownloader::End(CJob* job) {
    PendingEngineJob* entry = FindByJob(job);
    if (!entry)
        return;
    const nwCDNJobKeyRecord key{entry->serial, entry->engineKey};
    TakeOut(entry);
    if (linkLayer_)
        linkLayer_->SendStopJob(key);
    StopWatchdog();
}

ResultCode CEngineDownloader::Answer(CJob* job, uint8_t resume, uint8_t remember) {
    const PendingEngineJob* entry = FindByJob(job);
    const uint32_t key = entry ? entry->engineKey : static_cast<uint32_t>(job->EngineKey());
    if (linkLayer_)
        linkLayer_->SendResumeAnswer({key, static_cast<uint32_t>(job->Serial()), resume, remember});
    StartWatchdog();
    return result::kSuccess;
}

void CEngineDownloader::Tick(CJob* job) {
    const bool up = platform::IsInternetConnected();
    if (!up && !NetworkOffline()) {
        OnLauncherOffline();
    } else if (up && NetworkOffline()) {
        SetNetworkOffline(false);
        QueueJobMessage(job, message::kNetworkBack, nullptr);
        // A job the connection could not send while offline would otherwise
        // wait for the next connection, which may never come.
        SendWaitingJobs();
    }
}

void CEngineDownloader::SendWaitingJobs() {
    const std::vector<CJob*> jobs = HeldJobs();
    for (CJob* job : jobs) {
        if (Holds(job) && !FindByJob(job))
            Begin(job);
    }
}

// --- the launcher's reports

void CEngineDownloader::OnLauncherFileBegin(const std::string& name, int64_t size) {
    Owner()->OnUpdateFileBegin(name.c_str(), size);
}

void CEngineDownloader::OnLauncherProgress(const std::string&, int64_t bytes) {
    Owner()->OnUpdateFileProgress(bytes);
}

void CEngineDownloader::OnLauncherReady() {
    SetNetworkOffline(false);
    ConnectEngine();
    Owner()->OnEngineReady();
}

void CEngineDownloader::OnLauncherFailed() {
    SetNetworkOffline(false);
    ConnectEngine();
    Owner()->OnEngineFailed();
    Owner()->OnEngineLost();
}

void CEngineDownloader::OnLauncherOffline() {
    MarkAllOffline();
}

void CEngineDownloader::OnLauncherPathFailed(int32_t kind) {
    Owner()->OnPathAccessFailed(kind);
    if (kind == 1)
        Owner()->OnEngineLost();
}

// --- the engine's reports

bool CEngineDownloader::EngineIsOwnUsers() {
    const cpSocketRecord* record = link_ ? link_->Record() : nullptr;
    const std::optional<platform::UserId> owner =
        record ? platform::LoopbackPeerOwner(record->handle) : std::nullopt;
    if (owner && *owner == platform::CurrentUser())
        return true;
    if (owner)
        WriteLogFormat("[TarvoLib] Engine port %u belongs to another user (uid %u): not used",
                       static_cast<unsigned>(kEnginePort), static_cast<unsigned>(*owner));
    else
        WriteLogFormat("[TarvoLib] Engine port %u: its user is unknown: not used",
                       static_cast<unsigned>(kEnginePort));
    return false;
}

void CEngineDownloader::OnEngineConnected(uint32_t) {
    // Any local program may hold the port first. Before anything goes out
    // (the engine text waits in the queue), the other end must run as this
    // user; otherwise the attempt counts as a failed connect, and the close
    // reports it as one (OnEngineClosed, from inside this call).
    if (!EngineIsOwnUsers()) {
        const qvSmartPtr<cpCQoSContext> context = link_;
        context->Close();
        return;
    }
    lastConnect_ = NowSeconds();
    // The jobs that waited for the connection go now, in order.
    SendWaitingJobs();
}

void CEngineDownloader::OnJobAccepted(const nwCDNJobAcceptedRecord& record, uint32_t) {
    PendingEngineJob* entry = FindBySerial(record.serial);
    if (!entry)
        return;
    entry->engineKey = record.engineKey;
    entry->job->SetEngineKey(static_cast<int32_t>(record.engineKey));
    ReportSizeKnown(entry->job, static_cast<int32_t>(record.valueA), record.totalBytes);
    RestartWatchdog();
}

void CEngineDownloader::OnJobError(const nwCDNJobErrorRecord& record, uint32_t) {
    CJob* job = TakeOut(FindBySerial(record.serial));
    if (!job)
        return;
    const std::string text(record.text);
    FailJob(job, message::kDownloadFailed, text.c_str());
    StopWatchdog();
}

void CEngineDownloader::OnJobProgress(const nwCDNJobProgressRecord& record, uint32_t) {
    PendingEngineJob* entry = FindByKey(record.serial, record.engineKey);
    if (!entry)
        return;
    CJob* job = entry->job;
    JobStatus status = {};
    status.total = record.totalBytes;
    status.downloaded = record.doneBytes;
    status.fileCount = static_cast<int32_t>(record.valueB);
    status.filesCompleted = static_cast<int32_t>(record.fileIndex);
    status.percent = PercentOf(status.downloaded, status.total);
    status.elapsed = record.timeStamp;
    jobSpeed_.Add(record.timeStamp, record.speed);
    status.speed = static_cast<int32_t>(jobSpeed_.Average());
    status.remaining = SecondsLeft(status.total, status.downloaded, status.speed);
    if (!record.entries.empty()) {
        const nwCDNProgressEntry& current = record.entries.front();
        status.currentSize = current.total;
        status.currentDone = current.done;
        status.currentPercent = PercentOf(current.done, current.total);
        fileSpeed_.Add(record.timeStamp, current.speed);
        status.currentSpeed = fileSpeed_.Average();
        status.currentRemaining = SecondsLeft(current.total, current.done, status.currentSpeed);
    }
    const size_t count = job->FileCount();
    if (count > 0) {
        const size_t index = std::min<size_t>(record.fileIndex, count - 1);
        status.currentIndex = static_cast<int32_t>(index);
        const std::string& name = job->File(index).name;
        std::memcpy(status.currentName, name.data(), std::min(name.size(), kCurrentNameMax));
    }
    SetJobStatus(job, status);
    RestartWatchdog();
}

bool CEngineDownloader::TakeReport(CJob* job, const std::string& path) {
    if (ReportedJobFile(*job, path))
        return true;
    WriteLogFormat("[TarvoLib] Engine report refused: not a file of the job (%s)", path.c_str());
    return false;
}

void CEngineDownloader::OnFileCompleted(const nwCDNFileCompletedRecord& record, uint32_t) {
    PendingEngineJob* entry = FindByKey(record.serial, record.engineKey);
    if (!entry)
        return;
    fileSpeed_.Reset();
    const std::string path(record.localPath);
    if (!TakeReport(entry->job, path))
        return;
    OnEngineFileDone(*entry, path, std::string(), false, std::string(record.extra));
}

void CEngineDownloader::OnFileCompletedDetail(const nwCDNFileCompletedRecord& record, uint32_t) {
    PendingEngineJob* entry = FindByKey(record.serial, record.engineKey);
    if (!entry)
        return;
    fileSpeed_.Reset();
    const std::string path(record.localPath);
    if (!TakeReport(entry->job, path))
        return;
    OnEngineFileDone(*entry, path, std::string(record.detail), true, std::string(record.extra));
}

void CEngineDownloader::OnEngineFileDone(PendingEngineJob& entry, const std::string& path,
                                         const std::string& detail, bool hasDetail,
                                         const std::string& extra) {
    FileEntry* file = entry.job->FindFile(path);
    if (!file || !file->expected) {
        ReportFileDone(entry.job, path.c_str(), hasDetail ? detail.c_str() : nullptr,
                       extra.c_str());
        return;
    }
    // Signed: it counts once its bytes match, read on the verifier's thread
    // while the engine goes on with the next files.
    ++entry.verifying;
    const uint32_t serial = entry.serial;
    verifier_->Verify(path, *file->expected,
                      [this, serial, path, detail, hasDetail, extra](bool matches) {
                          OnFileVerified(serial, path, detail, hasDetail, extra, matches);
                      });
}

void CEngineDownloader::OnFileVerified(uint32_t serial, const std::string& path,
                                       const std::string& detail, bool hasDetail,
                                       const std::string& extra, bool matches) {
    // A job stopped or handed on meanwhile is no longer this path's to judge.
    PendingEngineJob* entry = FindBySerial(serial);
    if (!entry)
        return;
    --entry->verifying;
    FileEntry* file = entry->job->FindFile(path);
    if (file && matches) {
        file->verified = true;
        WriteLogFormat("[TarvoLib] Verified : %s", file->url.c_str());
        ReportFileDone(entry->job, path.c_str(), hasDetail ? detail.c_str() : nullptr,
                       extra.c_str());
    } else if (file) {
        // Never left to be run; fetched once more on the direct path.
        std::remove(path.c_str());
        ++file->verifyFailures;
        entry->refetch = true;
        WriteLogFormat("[TarvoLib] Verify Failed, Retry : %s", file->url.c_str());
    }
    if (entry->finished && entry->verifying == 0)
        FinishJob(entry, entry->finishedResult);
}

void CEngineDownloader::FinishJob(PendingEngineJob* entry, int32_t result) {
    const bool refetch = entry->refetch;
    CJob* job = TakeOut(entry);
    if (!job)
        return;
    if (refetch) {
        HandBack(job);
        Owner()->OnJobFallback(job);
        return;
    }
    // A job is complete only with every one of its files taken from a
    // report; the direct path fetches what the engine did not deliver.
    if (!EveryFileReported(*job)) {
        WriteLog("[TarvoLib] Engine finished a job with files missing: continued directly");
        FallBack(job);
        return;
    }
    CompleteJob(job, result, 0);
}

void CEngineDownloader::OnJobFinished(const nwCDNJobFinishedRecord& record, uint32_t) {
    // A job the engine gave up before accepting it is matched by its key -1.
    PendingEngineJob* entry = FindByKey(record.serial, record.engineKey);
    if (!entry)
        return;
    StopWatchdog();
    if (record.failureFlag != 0) {
        FallBack(TakeOut(entry));
        return;
    }
    if (entry->verifying > 0) {
        entry->finished = true;
        entry->finishedResult = static_cast<int32_t>(record.result);
        return;
    }
    FinishJob(entry, static_cast<int32_t>(record.result));
}

void CEngineDownloader::OnEngineNotice(const nwCDNEngineNoticeRecord& record, uint32_t) {
    PendingEngineJob* entry = FindByKey(record.serial, record.engineKey);
    if (entry && record.kind == 1)
        QueueJobMessage(entry->job, message::kDiskFull, nullptr);
}

void CEngineDownloader::OnNetworkDown(const nwCDNNetworkRecord&, uint32_t) {
    if (!pending_.empty())
        QueueJobMessage(pending_.front().job, message::kNetworkDown, nullptr);
}

void CEngineDownloader::OnNetworkUp(const nwCDNNetworkRecord&, uint32_t) {
    if (!pending_.empty())
        QueueJobMessage(pending_.front().job, message::kNetworkBack, nullptr);
}

void CEngineDownloader::OnEngineConnectFailed(uint32_t) {}

void CEngineDownloader::OnEngineClosed(uint32_t) {
    DetachLink(false);
    if (lastConnect_ != 0 && NowSeconds() - lastConnect_ > kLongLivedSeconds) {
        launchCount_ = 0;
        lastConnect_ = 0;
    }
    WriteLog("[TarvoLib] localClosed()");
    if (launchCount_ >= kMaxLaunches) {
        WriteLog("[TarvoLib] CEngineDownloader MaxTry Over");
        Owner()->OnEngineLost();
        return;
    }
    RetireLauncher();
    pending_.clear();
    StopWatchdog();
    Launch();
}

void CEngineDownloader::OnResumeQuestion(uint32_t serial) {
    PendingEngineJob* entry = FindBySerial(serial);
    if (!entry)
        return;
    StopWatchdog();
    entry->job->Raise(event::kResumeQuestion);
}

void CEngineDownloader::OnEngineStateMessage(uint32_t value, uint32_t) {
    Owner()->OnEngineState(static_cast<int32_t>(value));
}
