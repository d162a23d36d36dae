// The 298-byte report record as it goes on the wire: field offsets, the
// little-endian byte count, the cut texts, and reading a peer's record that
// lacks its terminators.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/direct/ReportRecord.h"
#include "ostra/norvikqos/agent/nwAgentMessages.h"

namespace {

TEST(ReportRecordLayout, FieldsSitAtTheirWireOffsets) {
    static_assert(ReportRecord::kSize == nwAgent::kRecordSize);
    const ReportRecord record = MakeReportRecord("job", "http://h/f", int64_t{0x0102030405060708});
    uint8_t bytes[ReportRecord::kSize];
    std::memcpy(bytes, &record, sizeof bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes)), "job");
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 33)), "http://h/f");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bytes[289 + i], 8 - i) << "byte " << i << " of the count";
    EXPECT_EQ(bytes[297], 1);
    EXPECT_EQ(ReadReportRecord(bytes).DownloadedBytes(), 0x0102030405060708);
    EXPECT_EQ(MakeReportRecord("", "", -2).DownloadedBytes(), -2);
}

TEST(ReportRecordLayout, TextsAreCutToLeaveTheirTerminator) {
    const ReportRecord record = MakeReportRecord(std::string(40, 'j'), std::string(300, 'u'), 0);
    EXPECT_EQ(record.JobName(), std::string(32, 'j'));
    EXPECT_EQ(record.Url(), std::string(255, 'u'));
    EXPECT_EQ(record.jobName[32], '\0');
    EXPECT_EQ(record.url[255], '\0');
}

TEST(ReportRecordLayout, UnterminatedFieldsOfAPeerAreReadOnlyToTheirEnd) {
    uint8_t bytes[ReportRecord::kSize];
    std::memset(bytes, 'x', sizeof bytes);
    const ReportRecord record = ReadReportRecord(bytes);
    EXPECT_EQ(record.JobName(), std::string(33, 'x'));
    EXPECT_EQ(record.Url(), std::string(256, 'x'));
}

}  // namespace
