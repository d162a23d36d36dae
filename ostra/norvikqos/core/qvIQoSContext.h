#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpAddress.h"
#include "ostra/norvikqos/core/cpSocketRecord.h"
#include "ostra/norvikqos/object/qvIUnknown.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "ostra/norvikqos/stack/nwIQoSNetStack.h"

// Handler of one framed message: payload, payload length, handler context.
using nwMessageHandler = void (*)(const uint8_t* payload, uint32_t length, void* context);

// Watch flags of a connection context.
namespace qvWatch {
constexpr uint32_t kConnectFailed = 1;
constexpr uint32_t kSendDrained = 2;
constexpr uint32_t kReceiveTimeout = 4;
constexpr uint32_t kCountReceived = 8;
constexpr uint32_t kCountSent = 16;
constexpr uint32_t kSocketError = 32;
constexpr uint32_t kPeriodic = 64;
}  // namespace qvWatch

// Events a context gives its layers.
namespace qvContextEvent {
constexpr int32_t kConnectFailed = 1;
constexpr int32_t kSendDrained = 2;
constexpr int32_t kReceiveTimeout = 4;
constexpr int32_t kSocketError = 32;
constexpr int32_t kPeriodic = 64;
}  // namespace qvContextEvent

// Life-cycle states of a context.
namespace qvContextState {
constexpr int32_t kNew = 0;
constexpr int32_t kInitialising = 1;
constexpr int32_t kSocketReady = 2;
constexpr int32_t kConnecting = 3;
constexpr int32_t kConnected = 4;
constexpr int32_t kConnectFailed = 5;
constexpr int32_t kSending = 6;
constexpr int32_t kReceiving = 7;
constexpr int32_t kIdle = 8;
constexpr int32_t kClosing = 9;
constexpr int32_t kClosed = 10;
// The host name is being looked up; the connect follows with its address.
constexpr int32_t kResolving = 11;
}  // namespace qvContextState

// Timeout kinds of SetTimeout.
namespace qvTimeoutKind {
constexpr int32_t kConnect = 1;
constexpr int32_t kReceive = 4;
constexpr int32_t kPeriodic = 64;
}  // namespace qvTimeoutKind

// One TCP connection with the protocol layers stacked on it. Every operation
// runs under the engine lock.
class qvIQoSContext : public qvIUnknown {
  public:
    // Only once, in the new state; record is a live socket to adopt, or none.
    virtual qvResult Initialize(int32_t actionType, uint32_t watchFlags,
                                cpSocketRecordPtr record) = 0;
    virtual qvResult SetActionParameter(int32_t direction, const uint32_t& value) = 0;
    virtual qvResult SetAction(int32_t type) = 0;
    virtual qvResult AssignWatchFlags(uint32_t flags) = 0;
    virtual qvResult SetWatchFlags(uint32_t bits) = 0;
    virtual qvResult ClearWatchFlags(uint32_t bits) = 0;
    // kind 64 reads value[0], value[2], value[3] and value[4].
    virtual qvResult SetTimeout(int32_t kind, const int32_t* value) = 0;
    virtual qvResult GetState(int32_t& state) = 0;
    virtual qvResult Connect(const cpAddress& address) = 0;
    // The same as Connect; kept as a slot of its own.
    virtual qvResult ConnectAddress(const cpAddress& address) = 0;
    virtual qvResult SendFromLayer(nwIQoSNetStack* layer, const nwDataChunk& chunk) = 0;
    virtual qvResult PushLayer(uint32_t classId, bool atBottom) = 0;
    virtual qvResult FindLayer(uint32_t classId, qvSmartPtr<>& out) = 0;
    virtual qvResult RearmEvents() = 0;
    virtual qvResult RegisterHandler(uint16_t category, uint32_t command, nwMessageHandler handler,
                                     void* handlerContext) = 0;
    virtual qvResult SetRemoteAddress(const cpAddress& address) = 0;
    virtual qvResult GetRemoteAddress(const cpAddress*& address) = 0;
    virtual qvResult Close() = 0;
    virtual qvResult RaiseError() = 0;
    virtual qvSmartPtr<> GetTopLayer() = 0;
    virtual qvResult LayerConnected(nwIQoSNetStack* layer) = 0;
    virtual int32_t LayerReceived(nwIQoSNetStack* layer, const uint8_t* data, uint32_t length) = 0;
    virtual qvResult GetSendBuffer(const uint8_t** data, uint32_t* length) = 0;
    // Queues a copy of the bytes, without layers.
    virtual qvResult Send(const void* data, uint32_t length) = 0;
    virtual qvResult GetReceiveRate(uint32_t& bytesPerSecond) = 0;
    virtual qvResult GetSendRate(uint32_t& bytesPerSecond) = 0;
    virtual qvResult Reserved() = 0;
    virtual qvResult GetQueuedBytes(uint32_t& count) = 0;
    virtual qvResult GetHostName(const char** name) = 0;
    // Names of 256 characters or more are refused.
    virtual qvResult SetHostName(const char* name) = 0;
    virtual qvResult ReportAddressGood() = 0;
    virtual qvResult ReportAddressFailed() = 0;
    // Only in the socket-ready state. Sets the host name, asks the host address
    // cache for an address of hostName and connects to it. When the cache must
    // look the name up first, the context waits in the resolving state (its
    // connect timeout runs meanwhile) and the calling thread does not: a name
    // that does not resolve then ends like an unreachable host. Fails at once
    // for an empty name, a name of 256 characters or more, or a name the cache
    // already knows does not resolve.
    virtual qvResult ConnectHost(const char* hostName, uint16_t port) = 0;
};
