#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ostra/norvikqos/core/cpSocketRecord.h"

// Outgoing bytes: a copy made once when queued, sent straight from here.
struct cpQoSChunk {
    std::unique_ptr<uint8_t[]> data;
    uint32_t position = 0;
    uint32_t length = 0;

    bool IsEmpty() const { return !data; }
    void Reset() {
        data.reset();
        position = length = 0;
    }
};

// Received bytes not yet consumed by the layers. Storage is kept in a block
// that grows by doubling, so appending never copies what is already there
// more than the growth requires. Once the layers have taken everything the
// block stays for the next read: freeing it sent the next read event to fresh
// pages (a block of a MiB comes from mmap), a page fault and a zeroed page for
// every 4 KiB received, and a regrowth by doubling with its copies.
class cpQoSReceiveBuffer {
  public:
    // The largest block kept while empty: what one read event of a busy
    // connection grows it to (the per-event limit plus a large read, doubled).
    // A block grown beyond, to hold a whole message, is given back once empty.
    static constexpr uint32_t kKeptCapacity = 2u << 20;

    cpQoSReceiveBuffer() = default;
    ~cpQoSReceiveBuffer() { std::free(data_); }
    cpQoSReceiveBuffer(const cpQoSReceiveBuffer&) = delete;
    cpQoSReceiveBuffer& operator=(const cpQoSReceiveBuffer&) = delete;

    uint8_t* Data() const { return data_; }
    uint32_t Length() const { return length_; }
    uint32_t Capacity() const { return capacity_; }
    bool HasStorage() const { return data_ != nullptr; }

    // Doubles the capacity (from 1024) until `more` bytes fit after the data.
    // False when memory runs out; the buffer is then unchanged.
    bool Reserve(uint32_t more);
    // The free space after the data; Commit adds what was written there.
    uint8_t* Tail() const { return data_ + length_; }
    void Commit(uint32_t count) { length_ += count; }
    // Drops the first count bytes, moving the rest to the front; all of them
    // empties the buffer as Clear does.
    void Consume(uint32_t count);
    // Empties the buffer, keeping a block of up to kKeptCapacity for the next read.
    void Clear();
    void Free();

  private:
    uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
};

// Once-a-second totals of what the budgeted actions let through.
struct cpQoSTotals {
    uint32_t receive = 0;
    uint32_t send = 0;
};

// The I/O of one connection context: reads into its receive buffer and sends
// from its current chunk, as far as the action allows. It is bound to three
// things of its context and holds nothing else.
class cpCQoSContextAction {
  public:
    cpCQoSContextAction(cpSocketRecordPtr& record, cpQoSChunk& chunk, cpQoSReceiveBuffer& buffer)
        : record_(record), chunk_(chunk), buffer_(buffer) {}
    cpCQoSContextAction(const cpCQoSContextAction&) = delete;
    cpCQoSContextAction& operator=(const cpCQoSContextAction&) = delete;

    virtual int32_t Type() const = 0;
    // Bytes appended to the receive buffer by this call.
    virtual uint32_t ReceivePump() = 0;
    // False only on a hard socket error.
    virtual bool SendPump(int32_t& sent) = 0;
    // Whether every received byte may go straight to storage outside the
    // receive buffer: only an action with no budget to share out.
    virtual bool ReceivesInto() const { return false; }
    // One read of up to room bytes into target, for an action that ReceivesInto.
    // False when nothing came: would block, the peer closed, an error.
    virtual bool ReceiveInto(uint8_t* target, uint32_t room, uint32_t& received);
    // True if the direction stopped for lack of budget since last asked; clears it.
    virtual bool TakeSendBlocked() = 0;
    virtual bool TakeReceiveBlocked() = 0;
    virtual void SetParameter(int32_t direction, const uint32_t& value);
    virtual void PerSecond(cpQoSTotals& totals);
    virtual ~cpCQoSContextAction() = default;

  protected:
    cpSocketRecordPtr& record_;
    cpQoSChunk& chunk_;
    cpQoSReceiveBuffer& buffer_;
};

namespace cpQoSAction {
// Type codes: unthrottled, then the budgeted ones (process-wide budget for
// types 2-4, the action's own for types 5-7).
constexpr int32_t kHigh = 1;
constexpr int32_t kLowServer = 2;
constexpr int32_t kLowServerReceiveOnly = 3;
constexpr int32_t kLowServerSendOnly = 4;
constexpr int32_t kOwn = 5;
constexpr int32_t kOwnReceiveOnly = 6;
constexpr int32_t kOwnSendOnly = 7;
// Directions of SetParameter (limits in bytes per second).
constexpr int32_t kDirectionReceive = 0;
constexpr int32_t kDirectionSend = 1;
// Caps what is left of the current second's own receive budget: a user that
// moves on to a new connection in the same second carries over what the last
// one left, so the limit holds across its connections.
constexpr int32_t kDirectionReceiveLeft = 2;
// The most a read event takes in before it lets other work run.
constexpr uint32_t kReceiveLimit = 0xFFFFF;
constexpr uint32_t kReceiveBlock = 1024;
// The unthrottled action, and own budgets with a high limit, read in blocks up
// to this size: at 100 MiB/s, 1024-byte reads cost a system call per KiB.
constexpr uint32_t kLargeReceiveBlock = 65536;
constexpr uint32_t kSendSlice = 4096;
}  // namespace cpQoSAction

// The action of a type code bound to a context's parts; none for an unknown code.
std::unique_ptr<cpCQoSContextAction> cpCreateContextAction(int32_t type, cpSocketRecordPtr& record,
                                                           cpQoSChunk& chunk,
                                                           cpQoSReceiveBuffer& buffer);
