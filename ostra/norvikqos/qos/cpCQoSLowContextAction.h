#pragma once

#include "ostra/norvikqos/qos/cpCQoSContextAction.h"

// The budgeted I/O shared by action types 2-7: both pumps move bytes only as
// far as the four budget operations of the concrete type allow. A pump that
// finds no budget stops without touching the socket and marks its direction
// blocked; the context's once-a-second step takes the mark after the refill
// and re-arms the socket, so a throttled connection waits for the next second
// without polling.
class cpCQoSLowContextAction : public cpCQoSContextAction {
  public:
    using cpCQoSContextAction::cpCQoSContextAction;

    uint32_t ReceivePump() override;
    bool SendPump(int32_t& sent) override;
    bool TakeSendBlocked() override;
    bool TakeReceiveBlocked() override;

    // Takes up to n bytes of budget; the answer (at most n) may move now.
    // The most one read asks for: small enough that a connection shares its
    // second's budget over many reads.
    virtual uint32_t ReceiveBlock() const { return cpQoSAction::kReceiveBlock; }
    virtual uint32_t GrantReceive(uint32_t n) = 0;
    virtual uint32_t GrantSend(uint32_t n) = 0;
    // Gives back granted bytes that did not move.
    virtual void ReturnReceive(uint32_t n) = 0;
    virtual void ReturnSend(uint32_t n) = 0;

    bool IsSendBlocked() const { return sendBlocked_; }
    bool IsReceiveBlocked() const { return receiveBlocked_; }

  private:
    bool sendBlocked_ = false;
    bool receiveBlocked_ = false;
};
