#include "ostra/norvikqos/agent/nwAgentMessages.h"

#include <cstring>

nwStreamMessage nwBuildAgentReportMessage(const nwAgentReport& report) {
    if (report.count > nwAgent::kMaxRecords || (report.count > 0 && !report.records))
        return {};
    const std::size_t recordBytes = std::size_t{report.count} * nwAgent::kRecordSize;
    nwStreamMessage message = nwStreamMessage::Allocate(nwAgent::kCountSize + recordBytes);
    if (!message.IsValid())
        return message;
    uint8_t* out = message.Payload();
    for (std::size_t i = 0; i < nwAgent::kCountSize; ++i)
        out[i] = static_cast<uint8_t>(report.count >> (8 * i));
    if (recordBytes > 0)
        std::memcpy(out + nwAgent::kCountSize, report.records, recordBytes);
    message.Seal(nwAgent::kCategory, nwAgent::kCommandReport);
    return message;
}

nwStreamMessage nwBuildAgentReplyMessage(uint8_t result) {
    nwStreamMessage message = nwStreamMessage::Allocate(1);
    if (!message.IsValid())
        return message;
    message.Payload()[0] = result;
    message.Seal(nwAgent::kCategory, nwAgent::kCommandReply);
    return message;
}

bool nwReadAgentReport(const uint8_t* payload, uint32_t length, nwAgentReport& report) {
    report = {};
    if (!payload || length < nwAgent::kCountSize)
        return false;
    const uint32_t count = uint32_t{payload[0]} | (uint32_t{payload[1]} << 8) |
                           (uint32_t{payload[2]} << 16) | (uint32_t{payload[3]} << 24);
    // 64-bit arithmetic: a hostile count must not wrap into a small size.
    const uint64_t needed = nwAgent::kCountSize + uint64_t{count} * nwAgent::kRecordSize;
    if (needed > length)
        return false;
    report.count = count;
    report.records = payload + nwAgent::kCountSize;
    return true;
}
