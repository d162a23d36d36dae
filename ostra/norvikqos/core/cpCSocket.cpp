#include "ostra/norvikqos/core/cpCSocket.h"

#include "ostra/norvikqos/core/cpSocketOps.h"

cpCSocket::~cpCSocket() = default;

qvResult cpCSocket::Create(int32_t kind) {
    return cpSock::Create(record_, kind);
}
qvResult cpCSocket::Connect(const cpAddress& address) {
    return cpSock::Connect(record_.get(), address);
}
qvResult cpCSocket::Close() {
    return cpSock::Close(record_);
}
qvResult cpCSocket::Send(const void* data, uint32_t length, int32_t& sent) {
    return cpSock::Send(record_.get(), data, length, sent);
}
qvResult cpCSocket::Receive(void* buffer, uint32_t size, int32_t& received) {
    return cpSock::Receive(record_.get(), buffer, size, received);
}
qvResult cpCSocket::Nop() {
    return qv::kOk;
}
qvResult cpCSocket::Bind(const cpAddress& address) {
    return cpSock::Bind(record_.get(), address);
}
qvResult cpCSocket::Listen() {
    return cpSock::Listen(record_.get());
}
qvResult cpCSocket::Accept(cpSocketRecordPtr& newRecord, cpAddress& peer) {
    return cpSock::Accept(record_.get(), peer, newRecord);
}
qvResult cpCSocket::SendTo(const void* data, uint32_t length, const cpAddress& address,
                           int32_t& sent) {
    return cpSock::SendTo(record_.get(), data, length, address, sent);
}
qvResult cpCSocket::EnableBroadcast(int32_t option) {
    return cpSock::EnableBroadcast(record_.get(), option);
}
qvResult cpCSocket::ReceiveFrom(void* buffer, uint32_t size, cpAddress& address,
                                int32_t& received) {
    return cpSock::ReceiveFrom(record_.get(), buffer, size, address, received);
}
