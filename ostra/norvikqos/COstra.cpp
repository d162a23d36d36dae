#include "ostra/norvikqos/COstra.h"

#include "ostra/norvikqos/cpCTimerManager.h"
#include "ostra/norvikqos/qvCGarbageCollector.h"

COstra::COstra(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop) : lock_(std::move(lock)) {
    timers_ = std::make_unique<cpCTimerManager>(lock_, loop);
    collector_ = std::make_unique<qvCGarbageCollector>();
    qvCGarbageCollector::SetInstance(collector_.get());
}

COstra::~COstra() {
    qvCGarbageCollector::SetInstance(nullptr);
    collector_.reset();
    timers_.reset();
}

void COstra::Stop() {}
