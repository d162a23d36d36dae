#include "ostra/norvikqos/qos/cpCQoSHighContextAction.h"

#include <algorithm>

#include "ostra/norvikqos/core/cpSocketOps.h"

// Reads straight into the buffer's free space, in large blocks: without a
// budget there is nothing to share out, and each read is a system call.
uint32_t cpCQoSHighContextAction::ReceivePump() {
    uint32_t total = 0;
    for (;;) {
        if (!buffer_.Reserve(cpQoSAction::kLargeReceiveBlock))
            break;
        int32_t received = 0;
        if (qv::Failed(cpSock::Receive(record_.get(), buffer_.Tail(),
                                       cpQoSAction::kLargeReceiveBlock, received)))
            break;
        buffer_.Commit(static_cast<uint32_t>(received));
        total += static_cast<uint32_t>(received);
        if (buffer_.Length() > cpQoSAction::kReceiveLimit || received == 0)
            break;
    }
    return total;
}

bool cpCQoSHighContextAction::ReceiveInto(uint8_t* target, uint32_t room, uint32_t& received) {
    received = 0;
    int32_t n = 0;
    const uint32_t size = std::min<uint32_t>(room, INT32_MAX);
    if (qv::Failed(cpSock::Receive(record_.get(), target, size, n)) || n <= 0)
        return false;
    received = static_cast<uint32_t>(n);
    return true;
}

bool cpCQoSHighContextAction::SendPump(int32_t& sent) {
    sent = 0;
    if (chunk_.IsEmpty() || chunk_.length == 0)
        return true;
    for (;;) {
        const uint32_t slice = std::min(chunk_.length - chunk_.position, cpQoSAction::kSendSlice);
        int32_t n = 0;
        const qvResult result =
            cpSock::Send(record_.get(), chunk_.data.get() + chunk_.position, slice, n);
        if (qv::Succeeded(result) && n > 0) {
            sent += n;
            chunk_.position += static_cast<uint32_t>(n);
            if (chunk_.position == chunk_.length) {
                cpSock::Rearm(record_.get());
                return true;
            }
            continue;
        }
        if (qv::Condition(result) != platform::net::kConditionWouldBlock)
            return false;
        cpSock::Rearm(record_.get());
        return true;
    }
}
