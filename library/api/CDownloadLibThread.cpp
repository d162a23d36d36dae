#include "library/api/CDownloadLibThread.h"

#include <chrono>
#include <mutex>

#include "library/common/Log.h"
#include "library/jobs/CJobManager.h"
#include "ostra/norvikqos/core/COstra.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

namespace {

std::unique_ptr<CDownloadLibThread> gInstance;
// The worker's loop runs while this is 1; shutdown sets it to 0 first.
std::atomic<int32_t> gRunning{0};
std::atomic<void (*)()> gStartHook{nullptr};
std::atomic<uint32_t> gHandshakeMs{0};
std::atomic<int> gLiveWorkers{0};

}  // namespace

namespace tarvo::hooks {
void SetWorkerStartHook(void (*hook)()) {
    gStartHook.store(hook);
}
void SetHandshakeTimeout(uint32_t ms) {
    gHandshakeMs.store(ms);
}
uint32_t HandshakeTimeout() {
    const uint32_t ms = gHandshakeMs.load();
    return ms ? ms : CDownloadLibThread::kHandshakeMs;
}
int LiveWorkers() {
    return gLiveWorkers.load();
}
}  // namespace tarvo::hooks

CDownloadLibThread* CDownloadLibThread::Instance() {
    return gInstance.get();
}

CDownloadLibThread& CDownloadLibThread::Create() {
    gInstance = std::make_unique<CDownloadLibThread>();
    return *gInstance;
}

void CDownloadLibThread::Destroy() {
    gInstance.reset();
}

CDownloadLibThread::CDownloadLibThread() : state_(std::make_shared<WorkerState>()) {
    gRunning = 0;
}

CDownloadLibThread::WorkerState::WorkerState() {
    ++gLiveWorkers;
}

CDownloadLibThread::WorkerState::~WorkerState() {
    manager.reset();
    --gLiveWorkers;
}

bool CDownloadLibThread::Start(uint32_t handshakeMs) {
    gRunning = 1;
    thread_ = std::thread([state = state_] { WorkerBody(state); });
    ready_ = state_->started.Wait(handshakeMs);
    return ready_;
}

void CDownloadLibThread::WorkerBody(const std::shared_ptr<WorkerState>& state) {
    if (auto hook = gStartHook.load())
        hook();
    qvSmartPtr<cpCMutex> lock;
    if (lock.CreateInstance(qvClassId::kMutex)) {
        lock->Lock();
        COstra::SetLogSink(&WriteLog);
        state->manager = std::make_unique<CJobManager>(lock, &state->loop);
        state->started.Set();
        lock->Unlock();

        state->loop.Run([] { return gRunning.load() != 0; });

        WriteLog("[TarvoLib] Exit GetMessage Loop");
        state->manager->ShutdownNetwork();
    }
    state->finished.Set();
}

// The flush runs inside the worker's loop like any other network work, so the
// loop keeps turning while the reports go out; this thread only waits for the
// word that they are out or given up, and no longer than kReportFlushMs.
void CDownloadLibThread::FlushReports() {
    if (!thread_.joinable() || !ready_)
        return;
    // Shared with the worker: its answer may come after this wait has ended.
    auto flushed = std::make_shared<platform::Event>();
    state_->loop.Post([state = std::weak_ptr<WorkerState>(state_), flushed] {
        if (auto live = state.lock(); live && live->manager)
            live->manager->FlushReports([flushed] { flushed->Set(); });
        else
            flushed->Set();
    });
    if (!flushed->Wait(kReportFlushMs))
        WriteLog("[TarvoLib] Report Flush Timeout");
}

CDownloadLibThread::~CDownloadLibThread() {
    FlushReports();
    gRunning = 0;
    bool ended = true;
    if (thread_.joinable()) {
        state_->loop.Quit();
        ended = state_->finished.Wait(kStopMs);
        if (ended) {
            thread_.join();
        } else {
            WriteLog("[TarvoLib] Force TerminateThread");
            // A thread cannot be killed safely: the stuck worker keeps the shared
            // state and frees the manager itself if it ever ends.
            thread_.detach();
        }
    }
    WriteLog("[TarvoLib] Destroy JobManager");
    if (ended)
        state_->manager.reset();
    state_.reset();
}
