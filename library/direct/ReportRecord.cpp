#include "library/direct/ReportRecord.h"

#include <cstring>

static_assert(offsetof(ReportRecord, url) == 33);
static_assert(offsetof(ReportRecord, downloadedBytes) == 289);
static_assert(offsetof(ReportRecord, marker) == 297);

namespace {

std::string_view Terminated(const char* field, std::size_t size) {
    const void* end = std::memchr(field, 0, size);
    return {field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : size};
}

void CopyCut(char* field, std::size_t size, std::string_view text) {
    const std::size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace

int64_t ReportRecord::DownloadedBytes() const {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | downloadedBytes[i];
    return static_cast<int64_t>(v);
}

void ReportRecord::SetDownloadedBytes(int64_t bytes) {
    const auto v = static_cast<uint64_t>(bytes);
    for (int i = 0; i < 8; ++i)
        downloadedBytes[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string_view ReportRecord::JobName() const {
    return Terminated(jobName, kJobNameSize);
}
std::string_view ReportRecord::Url() const {
    return Terminated(url, kUrlSize);
}

ReportRecord MakeReportRecord(std::string_view jobName, std::string_view url,
                              int64_t downloadedBytes) {
    ReportRecord record{};
    CopyCut(record.jobName, ReportRecord::kJobNameSize, jobName);
    CopyCut(record.url, ReportRecord::kUrlSize, url);
    record.SetDownloadedBytes(downloadedBytes);
    record.marker = ReportRecord::kMarker;
    return record;
}

ReportRecord ReadReportRecord(const uint8_t* bytes) {
    ReportRecord record;
    std::memcpy(&record, bytes, sizeof record);
    return record;
}
