#pragma once

#include <cstddef>
#include <memory>

#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

namespace platform {
class EventLoop;
}

class cpCQoS;
class cpCTimerManager;
class qvCGarbageCollector;

// The network core: starts the process-wide singletons of the network stack in
// a fixed order on the worker thread (timers first, because the others start
// timers) and takes them down in reverse.
class COstra {
  public:
    // Where the network core writes its few log lines (one line each, without
    // its end). The stack knows nothing of the library's log file, so the
    // library installs its writer here before it starts the core; without one
    // the lines are dropped.
    using LogSink = void (*)(const char* line);
    static void SetLogSink(LogSink sink);
    // Writes one line through the sink (dropped without one).
    static void Log(const char* line);

    // A trusted certificate built into the program: its name and PEM text.
    struct BuiltinCertificate {
        const char* name;
        const char* pem;
    };
    // Adds each certificate to the TLS module's trusted list and logs every
    // one that was read; texts that hold no certificate are skipped. Answers
    // how many were added.
    static size_t AddTrustedCertificates(const BuiltinCertificate* table, size_t count);

    // Runs on the worker thread with the engine lock held. loop may be null for
    // tests that drive the timer manager's passes themselves; there is then no
    // socket event source.
    COstra(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop);
    ~COstra();
    COstra(const COstra&) = delete;
    COstra& operator=(const COstra&) = delete;

    // kOk when the socket event source works; kFail otherwise, and every
    // connection would fail, so the caller should not go on.
    qvResult StartResult() const;

    // Called when the worker's loop has ended: network stop, then TLS clean-up.
    void Stop();

  private:
    qvSmartPtr<cpCMutex> lock_;
    std::unique_ptr<cpCTimerManager> timers_;
    std::unique_ptr<cpCQoS> qos_;
    std::unique_ptr<qvCGarbageCollector> collector_;
};
