#pragma once

#include <cstddef>
#include <cstdint>

#include "ostra/norvikqos/stack/nwStreamFrame.h"

// Messages of the agent protocol between the reporter and the report host.
// Report records are opaque here: fixed-size blocks copied unchanged (their
// layout belongs to the library's reporter, library/ReportRecord.h).
namespace nwAgent {

constexpr uint16_t kCategory = 768;  // 0x300
// To the agent: u32 record count N, then N records of kRecordSize bytes.
constexpr uint16_t kCommandReport = 154;  // 0x9A
// From the agent: the first payload byte is the result; the rest is ignored.
constexpr uint16_t kCommandReply = 131;  // 0x83

constexpr std::size_t kRecordSize = 298;
constexpr std::size_t kCountSize = 4;
// Most records one report message can carry within the frame limit.
constexpr uint32_t kMaxRecords =
    static_cast<uint32_t>((nwStreamFrame::kMaxPayloadLength - 8 - kCountSize) / kRecordSize);

// The result byte the report host answers a well-formed report with.
constexpr uint8_t kReplyAccepted = 1;

}  // namespace nwAgent

// What SendReport sends: count records of nwAgent::kRecordSize bytes each.
struct nwAgentReport {
    uint32_t count = 0;
    const uint8_t* records = nullptr;
};

// A whole framed report message (category 768, command 154); empty when the
// report is too big for one frame or records is null with a count.
nwStreamMessage nwBuildAgentReportMessage(const nwAgentReport& report);
// A whole framed reply message (category 768, command 131) carrying result.
nwStreamMessage nwBuildAgentReplyMessage(uint8_t result);

// Reads the payload of a report message into report (records point into the
// payload). False when the payload is shorter than its record count says.
bool nwReadAgentReport(const uint8_t* payload, uint32_t length, nwAgentReport& report);
