#pragma once

#include <cstdint>
#include <memory>

#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/core/cpSocketRecord.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "platform/SocketEventSource.h"

namespace platform {
class EventLoop;
}

class cpCHostLookup;
class cpCQoSContext;

// The socket registry: a table of 64 slots mapping each registered socket to
// its connection context and routing readiness and deferred events to it, and
// the once-a-second step that shares out bandwidth. One instance per process,
// made by COstra.
class cpCQoS final : public platform::ISocketEventSink {
  public:
    static constexpr int32_t kSlotCount = platform::SocketEventSource::kSlots;
    static constexpr uint32_t kDefaultLimit = 0x6400000;
    static constexpr uint32_t kSecondMs = 1000;

    // Process-wide budget of the budgeted actions, refilled every second.
    struct Budget {
        uint32_t sendLimit = kDefaultLimit;
        uint32_t receiveLimit = kDefaultLimit;
        uint32_t sendBudget = 0;
        uint32_t receiveBudget = 0;
        uint32_t sendUsed = 0;
        uint32_t receiveUsed = 0;
        uint32_t second = 0;
    };

    // Without a working loop there is no event source: IsReady() is false and
    // every registration fails.
    cpCQoS(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop);
    ~cpCQoS();
    cpCQoS(const cpCQoS&) = delete;
    cpCQoS& operator=(const cpCQoS&) = delete;

    static cpCQoS* Instance();
    bool IsReady() const { return source_ != nullptr; }

    // Makes a non-blocking TCP record when record is empty, then registers it in
    // the next free slot. On success record is the registered record; when the
    // table is full (or there is no event source) the call fails, a record made
    // here is closed and a given one is left with the caller.
    qvResult Register(cpCQoSContext* context, cpSocketRecordPtr& record);
    // Unregisters the record, empties its slot, then closes the record.
    void Unregister(cpCQoSContext* context, cpSocketRecordPtr record);
    cpCQoSContext* ContextAt(int32_t slot) const;
    int32_t NextSlot() const { return nextSlot_; }

    // The once-a-second step: refills the budget and steps every context.
    void OnSecond();
    Budget& ProcessBudget() { return budget_; }
    // Milliseconds left until the next once-a-second step (1000 when unknown).
    uint32_t MsUntilNextSecond() const;
    cpCMutex* EngineLock() const { return lock_.Get(); }

    // Event source side.
    void LockEngine() override { lock_->Lock(); }
    void UnlockEngine() override { lock_->Unlock(); }
    void OnSocketEvent(int slot, platform::SocketEvent event, int error) override;
    void OnDeferred(int slot, uint64_t recordSerial) override;

  private:
    static void OnSecondTimer(void* self);
    void AdvanceNextSlot();

    qvSmartPtr<cpCMutex> lock_;
    qvSmartPtr<cpCTimer> secondTimer_;
    std::unique_ptr<platform::SocketEventSource> source_;
    // Host names are looked up off the loop while there is one.
    std::unique_ptr<cpCHostLookup> lookup_;
    qvSmartPtr<cpCQoSContext> slots_[kSlotCount];
    int32_t nextSlot_ = 0;
    Budget budget_;
};
