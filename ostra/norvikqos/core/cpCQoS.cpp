#include "ostra/norvikqos/core/cpCQoS.h"

#include "platform/Clock.h"

#include <mutex>

#include "ostra/norvikqos/core/cpCHostLookup.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/core/cpSocketOps.h"
#include "platform/EventLoop.h"

namespace {
cpCQoS* gInstance = nullptr;
}

cpCQoS::cpCQoS(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop) : lock_(std::move(lock)) {
    gInstance = this;
    if (loop && loop->IsValid()) {
        source_ = std::make_unique<platform::SocketEventSource>(*loop, *this);
        lookup_ = std::make_unique<cpCHostLookup>(*loop, lock_);
    }
    if (secondTimer_.CreateInstance(qvClassId::kTimer) &&
        qv::Failed(secondTimer_->Start(kSecondMs, &OnSecondTimer, this,
                                       cpTimerTag::kBandwidthSecond, lock_)))
        secondTimer_.Reset();
}

cpCQoS::~cpCQoS() {
    // Waiting contexts get no answer once the registry is going.
    lookup_.reset();
    if (secondTimer_) {
        secondTimer_->Stop();
        secondTimer_.Reset();
    }
    // The source goes first, so that no socket stays watched once its context
    // (and with it the record) is gone; contexts still registered then lose
    // their slot reference and their records close with them.
    source_.reset();
    for (auto& slot : slots_)
        slot.Reset();
    if (gInstance == this)
        gInstance = nullptr;
}

cpCQoS* cpCQoS::Instance() {
    return gInstance;
}

void cpCQoS::AdvanceNextSlot() {
    for (int32_t i = nextSlot_ + 1; i < kSlotCount; ++i) {
        if (!slots_[i]) {
            nextSlot_ = i;
            return;
        }
    }
    for (int32_t i = 0; i < nextSlot_; ++i) {
        if (!slots_[i]) {
            nextSlot_ = i;
            return;
        }
    }
}

qvResult cpCQoS::Register(cpCQoSContext* context, cpSocketRecordPtr& record) {
    if (!context || !source_)
        return qv::kFail;
    const bool made = !record;
    if (made)
        cpSock::Create(record, platform::sock::kStream);  // a failure shows at connect
    if (record)
        cpSock::SetNonBlocking(record.get(), 0);

    std::lock_guard guard(*lock_);
    if (slots_[nextSlot_])
        AdvanceNextSlot();
    const int32_t slot = nextSlot_;
    if (slots_[slot] || !record ||
        qv::Failed(cpSock::RegisterForEvents(source_.get(), record.get(), slot))) {
        if (made)
            record.reset();
        return qv::kFail;
    }
    slots_[slot] = context;
    AdvanceNextSlot();
    return qv::kOk;
}

void cpCQoS::Unregister(cpCQoSContext* context, cpSocketRecordPtr record) {
    if (!record)
        return;
    qvSmartPtr<cpCQoSContext> released;
    {
        std::lock_guard guard(*lock_);
        int32_t slot = -1;
        if (qv::Succeeded(cpSock::Unregister(source_.get(), record.get(), slot)) && slot >= 0 &&
            slot < kSlotCount && slots_[slot] == context)
            released = std::move(slots_[slot]);
    }
    cpSock::Close(record);
}

cpCQoSContext* cpCQoS::ContextAt(int32_t slot) const {
    if (slot < 0 || slot >= kSlotCount)
        return nullptr;
    return slots_[slot].Get();
}

void cpCQoS::OnSocketEvent(int slot, platform::SocketEvent event, int) {
    std::lock_guard guard(*lock_);
    // The handler may close the context and so empty its slot.
    qvSmartPtr<cpCQoSContext> context(ContextAt(slot));
    if (!context)
        return;
    switch (event) {
        case platform::SocketEvent::Readable:
            context->OnReadable();
            break;
        case platform::SocketEvent::Writable:
            context->OnWritable();
            break;
        case platform::SocketEvent::Connected:
            context->OnConnected();
            break;
        case platform::SocketEvent::Refused:
            context->OnConnectRefused();
            break;
        case platform::SocketEvent::Unreachable:
            context->OnHostUnreachable();
            break;
        case platform::SocketEvent::ClosedByPeer:
            context->OnClosed(true);
            break;
        case platform::SocketEvent::AcceptReady:
            break;
    }
}

void cpCQoS::OnDeferred(int slot, uint64_t recordSerial) {
    std::lock_guard guard(*lock_);
    qvSmartPtr<cpCQoSContext> context(ContextAt(slot));
    if (context)
        context->OnDeferredEvent(recordSerial);
}

void cpCQoS::OnSecond() {
    budget_.sendBudget = budget_.sendLimit;
    budget_.receiveBudget = budget_.receiveLimit;
    budget_.sendUsed = 0;
    budget_.receiveUsed = 0;
    std::lock_guard guard(*lock_);
    cpQoSTotals totals;
    for (int32_t i = 0; i < kSlotCount; ++i) {
        qvSmartPtr<cpCQoSContext> context(slots_[i].Get());
        if (context)
            context->PerSecond(totals);
    }
    ++budget_.second;
}

void cpCQoS::OnSecondTimer(void* self) {
    static_cast<cpCQoS*>(self)->OnSecond();
}

uint32_t cpCQoS::MsUntilNextSecond() const {
    if (!secondTimer_ || !secondTimer_->IsRunning())
        return kSecondMs;
    const int64_t left = platform::ElapsedMs(platform::Clock().Now(), secondTimer_->Due());
    if (left <= 0)
        return 0;
    return left > kSecondMs ? kSecondMs : static_cast<uint32_t>(left);
}
