#include "ostra/norvikqos/core/cpSocketOps.h"

#include <cerrno>

#include "platform/SocketEventSource.h"

namespace cpSock {
namespace {

namespace sock = platform::sock;

qvResult Check(const cpSocketRecord* record) {
    if (!record)
        return qv::kBadArgument;
    if (record->handle == sock::kInvalidHandle)
        return qv::kInvalidSocket;
    return qv::kOk;
}

bool Registered(const cpSocketRecord* record) {
    return record->window && record->eventSlot >= 0;
}

}  // namespace

qvResult NetworkStart() {
    return sock::NetworkStart();
}
qvResult NetworkStop() {
    return sock::NetworkStop();
}

qvResult Create(cpSocketRecordPtr& record, int32_t kind) {
    if (record && record->handle != sock::kInvalidHandle)
        return qv::kAlreadyCreated;
    if (!record)
        record = std::make_unique<cpSocketRecord>();
    record->kind = kind;
    sock::Handle handle = sock::kInvalidHandle;
    const qvResult result = sock::Create(kind, handle);
    record->handle = handle;
    if (kind != sock::kStream && handle == sock::kInvalidHandle) {
        record.reset();
        return qv::kBadArgument;
    }
    return result;
}

qvResult Close(cpSocketRecordPtr& record) {
    record.reset();
    return qv::kOk;
}

qvResult Connect(cpSocketRecord* record, const cpAddress& address) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    record->address = address;
    int error = 0;
    const qvResult result = sock::Connect(record->handle, address.ip, address.port, &error);
    if (Registered(record))
        record->window->NoteConnect(record->eventSlot, error);
    return result;
}

qvResult Send(cpSocketRecord* record, const void* data, uint32_t length, int32_t& sent) {
    sent = 0;
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    const qvResult result = sock::Send(record->handle, data, length, sent);
    if (qv::Condition(result) == platform::net::kConditionWouldBlock && Registered(record))
        record->window->NoteSendRefused(record->eventSlot);
    return result;
}

qvResult Receive(cpSocketRecord* record, void* buffer, uint32_t size, int32_t& received) {
    received = 0;
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    const qvResult result = sock::Receive(record->handle, buffer, size, received);
    if (Registered(record))
        record->window->NoteReceive(record->eventSlot);
    return result;
}

qvResult SendTo(cpSocketRecord* record, const void* data, uint32_t length, const cpAddress& address,
                int32_t& sent) {
    sent = 0;
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    record->address = address;
    return sock::SendTo(record->handle, data, length, address.ip, address.port, sent);
}

qvResult ReceiveFrom(cpSocketRecord* record, void* buffer, uint32_t size, cpAddress& address,
                     int32_t& received) {
    received = 0;
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    const qvResult result =
        sock::ReceiveFrom(record->handle, buffer, size, address.ip, address.port, received);
    if (qv::Succeeded(result))
        record->address = address;
    if (Registered(record))
        record->window->NoteReceive(record->eventSlot);
    return result;
}

qvResult Bind(cpSocketRecord* record, const cpAddress& address) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    record->address = address;
    return sock::Bind(record->handle, address.ip, address.port);
}

qvResult Listen(cpSocketRecord* record) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    const qvResult result = sock::Listen(record->handle, 5);
    if (qv::Succeeded(result) && Registered(record))
        record->window->NoteListen(record->eventSlot);
    return result;
}

qvResult Accept(cpSocketRecord* listener, cpAddress& peer, cpSocketRecordPtr& newRecord) {
    newRecord.reset();
    if (const qvResult check = Check(listener); qv::Failed(check))
        return check;
    auto accepted = std::make_unique<cpSocketRecord>();
    accepted->kind = listener->kind;
    sock::Handle handle = sock::kInvalidHandle;
    const qvResult result = sock::Accept(listener->handle, handle, peer.ip, peer.port);
    accepted->handle = handle;
    if (Registered(listener))
        listener->window->NoteReceive(listener->eventSlot);
    if (qv::Failed(result))
        return result;  // the new record closes with `accepted`
    accepted->address = peer;
    newRecord = std::move(accepted);
    return qv::kOk;
}

qvResult SetNonBlocking(cpSocketRecord* record, uint32_t flag) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    const qvResult result = sock::SetNonBlocking(record->handle, flag == 0);
    if (qv::Succeeded(result))
        record->nonBlocking = flag == 0 ? 1 : 0;
    return result;
}

qvResult EnableBroadcast(cpSocketRecord* record, int32_t option) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    if (option != 0)
        return qv::kFail;
    return sock::EnableBroadcast(record->handle);
}

qvResult LocalAddress(cpSocketRecord* record, cpAddress& address) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    return sock::LocalAddress(record->handle, address.ip, address.port);
}

qvResult RegisterForEvents(platform::SocketEventSource* window, cpSocketRecord* record,
                           int32_t slot) {
    if (!record)
        return qv::kBadArgument;
    if (!window || !window->Register(slot, record->handle))
        return qv::kFail;
    record->window = window;
    record->eventSlot = slot;
    return qv::kOk;
}

qvResult Rearm(cpSocketRecord* record) {
    if (const qvResult check = Check(record); qv::Failed(check))
        return check;
    if (!Registered(record))
        return qv::kFail;
    record->window->Rearm(record->eventSlot);
    return qv::kOk;
}

qvResult Unregister(platform::SocketEventSource* window, cpSocketRecord* record, int32_t& slot) {
    slot = -1;
    if (!record)
        return qv::kBadArgument;
    if (record->eventSlot < 0)
        return qv::kFail;
    slot = record->eventSlot;
    record->eventSlot = -1;
    if (window)
        window->Unregister(slot);
    return qv::kOk;
}

qvResult PostDeferred(cpSocketRecord* record) {
    if (!record)
        return qv::kBadArgument;
    if (!Registered(record))
        return qv::kFail;
    record->window->PostDeferred(record->eventSlot, record->serial);
    return qv::kOk;
}

qvResult Resolve(const char* name, uint32_t& ip) {
    return sock::Resolve(name, ip);
}
qvResult ResolveAll(const char* name, std::vector<uint32_t>& list) {
    return sock::ResolveAll(name, list);
}

uint16_t HostToNet16(uint16_t value) {
    return sock::HostToNet16(value);
}
uint16_t NetToHost16(uint16_t value) {
    return sock::NetToHost16(value);
}

}  // namespace cpSock
