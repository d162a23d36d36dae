#include "ostra/norvikqos/COstra.h"

#include "ostra/norvikqos/cpCQoS.h"
#include "ostra/norvikqos/cpCTimerManager.h"
#include "ostra/norvikqos/cpSocketOps.h"
#include "ostra/norvikqos/qvCGarbageCollector.h"

COstra::COstra(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop) : lock_(std::move(lock)) {
    cpSock::NetworkStart();  // its result is not needed: later socket calls fail on their own
    timers_ = std::make_unique<cpCTimerManager>(lock_, loop);
    qos_ = std::make_unique<cpCQoS>(lock_, loop);
    collector_ = std::make_unique<qvCGarbageCollector>();
    qvCGarbageCollector::SetInstance(collector_.get());
}

COstra::~COstra() {
    qvCGarbageCollector::SetInstance(nullptr);
    collector_.reset();
    qos_.reset();
    timers_.reset();
}

qvResult COstra::StartResult() const {
    return qos_ && qos_->IsReady() ? qv::kOk : qv::kFail;
}

void COstra::Stop() {
    cpSock::NetworkStop();
}
