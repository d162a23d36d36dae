#include "ostra/norvikqos/object/qvCGarbageCollector.h"

#include <memory>

#include "platform/Clock.h"

namespace {
qvCGarbageCollector* gInstance = nullptr;
// Owns a collector made on first use outside COstra.
std::unique_ptr<qvCGarbageCollector> gFallback;
}  // namespace

qvCGarbageCollector::qvCGarbageCollector() {
    if (timer_.CreateInstance(qvClassId::kTimer) &&
        qv::Failed(timer_->Start(kSweepMs, &OnSweepTimer, this, cpTimerTag::kDeferredRelease)))
        timer_.Reset();
}

qvCGarbageCollector::~qvCGarbageCollector() {
    if (timer_) {
        timer_->Stop();
        timer_.Reset();
    }
    entries_.clear();
    if (gInstance == this)
        gInstance = nullptr;
}

qvCGarbageCollector& qvCGarbageCollector::Instance() {
    if (!gInstance) {
        gFallback = std::make_unique<qvCGarbageCollector>();
        gInstance = gFallback.get();
    }
    return *gInstance;
}

void qvCGarbageCollector::SetInstance(qvCGarbageCollector* collector) {
    gInstance = collector;
    if (gFallback && gFallback.get() != collector)
        gFallback.reset();
}

void qvCGarbageCollector::Defer(const qvSmartPtr<>& object) {
    if (!object)
        return;
    entries_.push_back(Entry{object, platform::Clock().CalendarSeconds() + kDelaySeconds});
}

void qvCGarbageCollector::Sweep() {
    const uint32_t now = platform::Clock().CalendarSeconds();
    while (!entries_.empty() && entries_.front().releaseAt < now) {
        // Move the reference out first: releasing may defer further objects.
        qvSmartPtr<> object = std::move(entries_.front().object);
        entries_.pop_front();
    }
}

void qvCGarbageCollector::OnSweepTimer(void* self) {
    static_cast<qvCGarbageCollector*>(self)->Sweep();
}
