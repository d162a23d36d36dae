#pragma once

#include <memory>

#include "ostra/norvikqos/cpCMutex.h"
#include "ostra/norvikqos/qvSmartPtr.h"

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

    // Called when the worker's loop has ended: network and TLS clean-up.
    void Stop();

  private:
    qvSmartPtr<cpCMutex> lock_;
    std::unique_ptr<cpCTimerManager> timers_;
    std::unique_ptr<cpCQoS> qos_;
    std::unique_ptr<qvCGarbageCollector> collector_;
};
