#include "ostra/norvikqos/qos/cpCQoSLowContextAction.h"

#include <algorithm>
#include <utility>

#include "ostra/norvikqos/core/cpSocketOps.h"

// Reads straight into the buffer's free space rather than through a local
// block, which saves a copy and reads the same amounts. A read event stops once
// the buffer holds more than the per-event limit, as the unthrottled action
// does: a large budget must not let one connection buffer without bound or hold
// the worker thread. The last call was a receive, so readiness is reported
// again while data is left.
uint32_t cpCQoSLowContextAction::ReceivePump() {
    if (!buffer_.HasStorage() && !buffer_.Reserve(cpQoSAction::kReceiveBlock))
        return 0;
    uint32_t total = 0;
    for (;;) {
        const uint32_t granted = GrantReceive(ReceiveBlock());
        if (granted == 0) {
            receiveBlocked_ = true;
            break;
        }
        int32_t received = 0;
        if (!buffer_.Reserve(granted) ||
            qv::Failed(cpSock::Receive(record_.get(), buffer_.Tail(), granted, received)) ||
            received <= 0) {
            ReturnReceive(granted);
            break;
        }
        const auto got = static_cast<uint32_t>(received);
        buffer_.Commit(got);
        total += got;
        if (granted > got)
            ReturnReceive(granted - got);
        if (buffer_.Length() > cpQoSAction::kReceiveLimit)
            break;
    }
    return total;
}

bool cpCQoSLowContextAction::SendPump(int32_t& sent) {
    sent = 0;
    if (chunk_.IsEmpty() || chunk_.length == 0)
        return true;
    // Sending resumes only once the once-a-second step has taken the mark.
    if (sendBlocked_)
        return true;
    while (chunk_.position < chunk_.length) {
        const uint32_t slice = std::min(chunk_.length - chunk_.position, cpQoSAction::kSendSlice);
        const uint32_t granted = GrantSend(slice);
        if (granted == 0) {
            sendBlocked_ = true;
            return true;
        }
        int32_t n = 0;
        const qvResult result =
            cpSock::Send(record_.get(), chunk_.data.get() + chunk_.position, granted, n);
        if (qv::Failed(result) || n <= 0) {
            ReturnSend(granted);
            if (qv::Condition(result) != platform::net::kConditionWouldBlock)
                return false;
            break;
        }
        const auto moved = static_cast<uint32_t>(n);
        sent += n;
        chunk_.position += moved;
        // What the socket did not take goes back, so the budget and the
        // second's totals count only bytes that left.
        if (granted > moved)
            ReturnSend(granted - moved);
    }
    cpSock::Rearm(record_.get());
    return true;
}

bool cpCQoSLowContextAction::TakeSendBlocked() {
    return std::exchange(sendBlocked_, false);
}

bool cpCQoSLowContextAction::TakeReceiveBlocked() {
    return std::exchange(receiveBlocked_, false);
}
