#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "library/api/TarvoLib.h"
#include "platform/Event.h"
#include "platform/EventLoop.h"

class CJobManager;

// The library instance: the worker thread with its event loop, and the job
// manager it creates. One per process, made by initialisation and deleted by
// finalisation on the host's thread.
class CDownloadLibThread {
  public:
    static constexpr uint32_t kHandshakeMs = 3000;
    static constexpr uint32_t kStopMs = 3000;
    // How long shutdown lets queued reports go out before the worker is told
    // to end. The two bounds add up: a worker that is stuck costs both.
    static constexpr uint32_t kReportFlushMs = 3000;

    CDownloadLibThread();
    // Lets queued reports go out (at most kReportFlushMs), stops the worker
    // (waiting at most kStopMs), then deletes the manager.
    virtual ~CDownloadLibThread();
    CDownloadLibThread(const CDownloadLibThread&) = delete;
    CDownloadLibThread& operator=(const CDownloadLibThread&) = delete;

    // The process-wide instance, owned here between Create and Destroy.
    static CDownloadLibThread* Instance();
    static CDownloadLibThread& Create();
    static void Destroy();

    // Starts the worker and waits for its handshake; false on time-out.
    bool Start(uint32_t handshakeMs);
    // The manager once the handshake was seen, else nullptr.
    CJobManager* Manager() const { return ready_ ? state_->manager.get() : nullptr; }
    platform::EventLoop& Loop() { return state_->loop; }
    void SetContextWord(uintptr_t context) { context_ = context; }
    uintptr_t ContextWord() const { return context_; }

  private:
    // What the worker thread uses, shared with it: a worker that does not end in
    // time keeps it alive, so nothing is freed under a running thread.
    struct WorkerState {
        platform::EventLoop loop;
        std::unique_ptr<CJobManager> manager;  // declared after loop: destroyed first
        platform::Event started;
        platform::Event finished;
        WorkerState();
        ~WorkerState();
    };
    static void WorkerBody(const std::shared_ptr<WorkerState>& state);
    void FlushReports();

    std::shared_ptr<WorkerState> state_;
    std::thread thread_;
    bool ready_ = false;
    uintptr_t context_ = 0;
};

namespace tarvo::hooks {
// Runs on the worker thread before it makes the manager; tests hold the worker
// here to miss the handshake.
void SetWorkerStartHook(void (*hook)());
// The handshake limit for the next initialisation (0 restores 3000 ms).
void SetHandshakeTimeout(uint32_t ms);
uint32_t HandshakeTimeout();
// Worker states still alive, also those left to a worker that ended late.
int LiveWorkers();
}  // namespace tarvo::hooks
