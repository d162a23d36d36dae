#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "ostra/norvikqos/core/cpAddress.h"
#include "platform/SocketOps.h"

namespace platform {
class SocketEventSource;
}

// One platform socket with what the socket core keeps about it. The record owns
// its handle: dropping the record closes the socket, so no path leaks one.
struct cpSocketRecord {
    cpSocketRecord() : serial(NextSerial()) {}
    ~cpSocketRecord() { platform::sock::Close(handle); }
    cpSocketRecord(const cpSocketRecord&) = delete;
    cpSocketRecord& operator=(const cpSocketRecord&) = delete;

    platform::sock::Handle handle = platform::sock::kInvalidHandle;
    int32_t kind = platform::sock::kStream;
    // The last connect, bind, send-to or receive-from, or the peer after accept.
    cpAddress address;
    int32_t addressLength = 0;
    uint32_t nonBlocking = 0;
    // The registry slot whose events carry this socket; -1 when not registered.
    int32_t eventSlot = -1;
    platform::SocketEventSource* window = nullptr;
    // Names this record in deferred deliveries: a record made after this one
    // was freed may sit at the same address, but never has the same serial.
    const uint64_t serial;

  private:
    static uint64_t NextSerial() {
        static std::atomic<uint64_t> last{0};
        return ++last;
    }
};

using cpSocketRecordPtr = std::unique_ptr<cpSocketRecord>;
