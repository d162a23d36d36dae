#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/core/qvIQoSContext.h"
#include "ostra/norvikqos/qos/cpCQoSContextAction.h"
#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"
#include "platform/Clock.h"

// One TCP connection: its registered socket record, state and connect timeout,
// the send queue with the chunk being sent, the receive buffer, the I/O action,
// the protocol layers on top and the deferred events delivered through the
// event source. Driven by events on the worker thread, under the engine lock.
class cpCQoSContext final : public qvTAtomicUnknown<qvIQoSContext> {
  public:
    static constexpr int32_t kDefaultReceiveTimeout = 60;
    static constexpr int32_t kDefaultConnectTimeout = 5;
    static constexpr size_t kHostNameSize = 256;

    cpCQoSContext() = default;
    ~cpCQoSContext() override;

    qvResult QueryInterface(uint32_t id, void** out) override;
    qvResult Initialize(int32_t actionType, uint32_t watchFlags, cpSocketRecordPtr record) override;
    qvResult SetActionParameter(int32_t direction, const uint32_t& value) override;
    qvResult SetAction(int32_t type) override;
    qvResult AssignWatchFlags(uint32_t flags) override;
    qvResult SetWatchFlags(uint32_t bits) override;
    qvResult ClearWatchFlags(uint32_t bits) override;
    qvResult SetTimeout(int32_t kind, const int32_t* value) override;
    qvResult GetState(int32_t& state) override;
    qvResult Connect(const cpAddress& address) override;
    qvResult ConnectAddress(const cpAddress& address) override;
    qvResult SendFromLayer(nwIQoSNetStack* layer, const nwDataChunk& chunk) override;
    qvResult PushLayer(uint32_t classId, bool atBottom) override;
    qvResult FindLayer(uint32_t classId, qvSmartPtr<>& out) override;
    qvResult RearmEvents() override;
    qvResult RegisterHandler(uint16_t category, uint32_t command, nwMessageHandler handler,
                             void* handlerContext) override;
    qvResult SetRemoteAddress(const cpAddress& address) override;
    qvResult GetRemoteAddress(const cpAddress*& address) override;
    qvResult Close() override;
    qvResult RaiseError() override;
    qvSmartPtr<> GetTopLayer() override;
    qvResult LayerConnected(nwIQoSNetStack* layer) override;
    int32_t LayerReceived(nwIQoSNetStack* layer, const uint8_t* data, uint32_t length) override;
    qvResult GetSendBuffer(const uint8_t** data, uint32_t* length) override;
    qvResult Send(const void* data, uint32_t length) override;
    qvResult GetReceiveRate(uint32_t& bytesPerSecond) override;
    qvResult GetSendRate(uint32_t& bytesPerSecond) override;
    qvResult Reserved() override;
    qvResult GetQueuedBytes(uint32_t& count) override;
    qvResult GetHostName(const char** name) override;
    qvResult SetHostName(const char* name) override;
    qvResult ReportAddressGood() override;
    qvResult ReportAddressFailed() override;
    qvResult ConnectHost(const char* hostName, uint16_t port) override;

    // Puts a layer made elsewhere on the stack (PushLayer makes it through the
    // class factory first). Fails when the object has no net-stack face.
    qvResult AttachLayer(const qvSmartPtr<>& layer, uint32_t classId, bool atBottom);

    // Called by the registry.
    void OnReadable();
    void OnWritable();
    void OnConnected();
    void OnClosed(bool byPeer);
    void OnConnectRefused();
    void OnHostUnreachable();
    // recordSerial names the record the event was queued for; an event for
    // a record that has since been closed is dropped.
    void OnDeferredEvent(uint64_t recordSerial);
    void PerSecond(cpQoSTotals& totals);

    // Read access for users and tests.
    const cpQoSReceiveBuffer& ReceiveBuffer() const { return receive_; }
    cpQoSReceiveBuffer& ReceiveBuffer() { return receive_; }
    cpSocketRecord* Record() const { return record_.get(); }
    const cpCQoSContextAction* Action() const { return action_.get(); }
    uint32_t WatchFlags() const { return watch_; }
    size_t LayerCount() const { return layers_.size(); }
    int32_t SecondsAlive() const { return secondsAlive_; }

  private:
    struct LayerEntry {
        qvSmartPtr<> application;
        nwIQoSNetStack* netStack = nullptr;
        uint32_t classId = 0;
    };

    // Sent or received bytes over a window that starts with the first count and
    // ends with the next query.
    struct RateMeter {
        platform::WallTime start;
        uint64_t bytes = 0;
        void Count(uint32_t n);
        uint32_t Take();
    };

    static void OnConnectTimer(void* self);
    // The host cache's answer for the lookup with this id; nothing when its
    // context has stopped waiting or is gone.
    static void OnHostAnswer(uint64_t lookupId, bool resolved, uint32_t ip);
    void OnHostResolved(bool resolved, uint32_t ip);
    void StopWaitingForHost();
    void StartConnectTimer();
    void StopConnectTimer();
    void ConnectFailed();
    void TakeNextChunk();
    bool SendLoop();
    void Deliver();
    // Reads straight into the storage the bottom layer offers for its next
    // bytes, when the action and the layer allow it; false when it read
    // nothing, and the receive buffer's pump reads as ever.
    bool ReceiveIntoLayer();
    void QueueDeferred(int32_t code);
    void GiveEventToLayers(int32_t code);
    int LayerIndex(const nwIQoSNetStack* layer) const;

    cpQoSChunk current_;
    cpQoSReceiveBuffer receive_;
    bool delivering_ = false;  // the layers are reading receive_
    cpSocketRecordPtr record_;
    int32_t receiveTimeout_ = kDefaultReceiveTimeout;
    int32_t connectTimeout_ = kDefaultConnectTimeout;
    uint32_t watch_ = 0;
    int32_t state_ = qvContextState::kNew;
    std::deque<cpQoSChunk> queue_;
    int32_t idleSeconds_ = 0;
    int32_t secondsAlive_ = 0;
    // Replaced as a whole when a layer is pushed; callers walk a copy, since a
    // layer may push another from inside a call.
    std::vector<LayerEntry> layers_;
    qvSmartPtr<cpCTimer> connectTimer_;
    qvSmartPtr<nwCStreamDispatcher> dispatcher_;
    std::unique_ptr<cpCQoSContextAction> action_;
    cpAddress remote_;
    RateMeter sendMeter_;
    RateMeter receiveMeter_;
    int32_t connected_ = 0;
    int32_t periodic_[4] = {};
    char hostName_[kHostNameSize] = {};
    std::deque<int32_t> deferred_;
    // Non-zero while the context waits for a host lookup.
    uint64_t lookupId_ = 0;
};
