#pragma once

#include <cstdint>
#include <vector>

#include "ostra/norvikqos/core/cpAddress.h"
#include "ostra/norvikqos/core/cpSocketRecord.h"
#include "ostra/norvikqos/object/qvResult.h"

namespace platform {
class SocketEventSource;
}

// The socket operations of the network stack on a cpSocketRecord. A missing
// record gives kBadArgument, a record whose handle is invalid kInvalidSocket.
// Receive and send calls keep the record's event source informed, so that its
// readiness reports follow the calls as the stack expects.
namespace cpSock {

qvResult NetworkStart();
qvResult NetworkStop();

// kAlreadyCreated when the record holds a live handle. A zeroed record is made
// when there is none. A stream socket that cannot be made (or set up) leaves the
// record with what it has and answers the mapped error; a datagram socket that
// cannot be made drops the record and answers kBadArgument.
qvResult Create(cpSocketRecordPtr& record, int32_t kind);
qvResult Close(cpSocketRecordPtr& record);
qvResult Connect(cpSocketRecord* record, const cpAddress& address);
qvResult Send(cpSocketRecord* record, const void* data, uint32_t length, int32_t& sent);
qvResult Receive(cpSocketRecord* record, void* buffer, uint32_t size, int32_t& received);
qvResult SendTo(cpSocketRecord* record, const void* data, uint32_t length, const cpAddress& address,
                int32_t& sent);
qvResult ReceiveFrom(cpSocketRecord* record, void* buffer, uint32_t size, cpAddress& address,
                     int32_t& received);
qvResult Bind(cpSocketRecord* record, const cpAddress& address);
qvResult Listen(cpSocketRecord* record);
// The new record takes the listener's kind and stores the peer.
qvResult Accept(cpSocketRecord* listener, cpAddress& peer, cpSocketRecordPtr& newRecord);
// flag 0 makes the socket non-blocking, any other value blocking.
qvResult SetNonBlocking(cpSocketRecord* record, uint32_t flag);
// Only option 0 (broadcast on) is known.
qvResult EnableBroadcast(cpSocketRecord* record, int32_t option);
// The address the socket is bound to (a listener on port 0 learns its port).
qvResult LocalAddress(cpSocketRecord* record, cpAddress& address);

qvResult RegisterForEvents(platform::SocketEventSource* window, cpSocketRecord* record,
                           int32_t slot);
qvResult Rearm(cpSocketRecord* record);
// kFail when the record is not registered.
qvResult Unregister(platform::SocketEventSource* window, cpSocketRecord* record, int32_t& slot);
qvResult PostDeferred(cpSocketRecord* record);

qvResult Resolve(const char* name, uint32_t& ip);
qvResult ResolveAll(const char* name, std::vector<uint32_t>& list);

uint16_t HostToNet16(uint16_t value);
uint16_t NetToHost16(uint16_t value);

}  // namespace cpSock
