#pragma once

#include <cstdint>
#include <vector>

#include "platform/NetResult.h"

// Thin IPv4 socket operations over the system's sockets. Every call answers a
// network result code; system errors are mapped onto the codes the portable
// code tests for. Addresses are u32 in network byte order, ports in host order.
namespace platform::sock {

using Handle = int;
constexpr Handle kInvalidHandle = -1;

constexpr int kStream = 0;
constexpr int kDatagram = 1;

// errno -> result code: would block, in progress, already, not a socket, no
// buffers and refused have their own codes; everything else is the general failure.
net::Result MapError(int error);

// Kept for the start/stop sequence of the network core; the system needs no
// start-up, so start always succeeds.
net::Result NetworkStart();
net::Result NetworkStop();

// A stream socket gets linger on with 0 seconds, so closing it resets the
// connection. On failure out is kInvalidHandle (stream: kInvalidSocket,
// datagram: kBadArgument) unless the socket exists but its option could not
// be set, in which case out keeps the socket and the mapped error is returned.
net::Result Create(int kind, Handle& out);
void Close(Handle handle);

// sysError (optional) receives the raw system error for the event source.
net::Result Connect(Handle handle, uint32_t ip, uint16_t port, int* sysError = nullptr);
net::Result Send(Handle handle, const void* data, uint32_t length, int32_t& sent,
                 int* sysError = nullptr);
// Success only when at least one byte arrived; the peer's close gives kFail.
net::Result Receive(Handle handle, void* buffer, uint32_t size, int32_t& received);
net::Result SendTo(Handle handle, const void* data, uint32_t length, uint32_t ip, uint16_t port,
                   int32_t& sent);
net::Result ReceiveFrom(Handle handle, void* buffer, uint32_t size, uint32_t& ip, uint16_t& port,
                        int32_t& received);
// Turns address reuse on, then binds.
net::Result Bind(Handle handle, uint32_t ip, uint16_t port);
net::Result Listen(Handle handle, int backlog);
// The accepted socket gets the same linger setting as a created stream socket.
net::Result Accept(Handle listener, Handle& out, uint32_t& ip, uint16_t& port);
net::Result SetNonBlocking(Handle handle, bool nonBlocking);
net::Result EnableBroadcast(Handle handle);
net::Result LocalAddress(Handle handle, uint32_t& ip, uint16_t& port);

// Blocking name lookups (the only blocking calls of the worker thread).
net::Result Resolve(const char* name, uint32_t& ip);
// Appends every IPv4 address, in the resolver's order, each once (through
// platform::ResolveAll, so a test resolver answers here too);
// failure when there is none.
net::Result ResolveAll(const char* name, std::vector<uint32_t>& out);

uint16_t HostToNet16(uint16_t value);
uint16_t NetToHost16(uint16_t value);

}  // namespace platform::sock
