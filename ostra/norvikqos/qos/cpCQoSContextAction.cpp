#include "ostra/norvikqos/qos/cpCQoSContextAction.h"

#include <cstring>

#include "ostra/norvikqos/qos/cpCQoSHighContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSLowServerContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSLowServerReceiveOnlyContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSLowServerSendOnlyContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSOwnContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSOwnReceiveOnlyContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSOwnSendOnlyContextAction.h"

bool cpQoSReceiveBuffer::Reserve(uint32_t more) {
    const uint64_t needed = static_cast<uint64_t>(length_) + more;
    if (needed <= capacity_)
        return true;
    uint64_t capacity = capacity_ ? capacity_ : cpQoSAction::kReceiveBlock;
    while (capacity < needed)
        capacity *= 2;
    if (capacity > UINT32_MAX)
        return false;
    auto* grown = static_cast<uint8_t*>(std::realloc(data_, capacity));
    if (!grown)
        return false;
    data_ = grown;
    capacity_ = static_cast<uint32_t>(capacity);
    return true;
}

void cpQoSReceiveBuffer::Consume(uint32_t count) {
    if (count >= length_) {
        Clear();
        return;
    }
    std::memmove(data_, data_ + count, length_ - count);
    length_ -= count;
}

void cpQoSReceiveBuffer::Clear() {
    if (capacity_ > kKeptCapacity) {
        Free();
        return;
    }
    length_ = 0;
}

void cpQoSReceiveBuffer::Free() {
    std::free(data_);
    data_ = nullptr;
    length_ = capacity_ = 0;
}

bool cpCQoSContextAction::ReceiveInto(uint8_t*, uint32_t, uint32_t& received) {
    received = 0;
    return false;
}

void cpCQoSContextAction::SetParameter(int32_t, const uint32_t&) {}
void cpCQoSContextAction::PerSecond(cpQoSTotals&) {}

std::unique_ptr<cpCQoSContextAction> cpCreateContextAction(int32_t type, cpSocketRecordPtr& record,
                                                           cpQoSChunk& chunk,
                                                           cpQoSReceiveBuffer& buffer) {
    switch (type) {
        case cpQoSAction::kHigh:
            return std::make_unique<cpCQoSHighContextAction>(record, chunk, buffer);
        case cpQoSAction::kLowServer:
            return std::make_unique<cpCQoSLowServerContextAction>(record, chunk, buffer);
        case cpQoSAction::kLowServerReceiveOnly:
            return std::make_unique<cpCQoSLowServerReceiveOnlyContextAction>(record, chunk, buffer);
        case cpQoSAction::kLowServerSendOnly:
            return std::make_unique<cpCQoSLowServerSendOnlyContextAction>(record, chunk, buffer);
        case cpQoSAction::kOwn:
            return std::make_unique<cpCQoSOwnContextAction>(record, chunk, buffer);
        case cpQoSAction::kOwnReceiveOnly:
            return std::make_unique<cpCQoSOwnReceiveOnlyContextAction>(record, chunk, buffer);
        case cpQoSAction::kOwnSendOnly:
            return std::make_unique<cpCQoSOwnSendOnlyContextAction>(record, chunk, buffer);
        default:
            return nullptr;
    }
}
