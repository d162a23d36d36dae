#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One per-file report as it goes to the report host: 298 bytes, packed,
// little-endian, copied into the agent report message unchanged.
//
//   offset 0   33 bytes  job name, zero-terminated
//   offset 33  256 bytes URL text, zero-terminated (at most 255 bytes of text)
//   offset 289 8 bytes   downloaded bytes, signed 64-bit
//   offset 297 1 byte    1
//
// Every member is a byte array, so the layout is the same on every compiler and
// the struct may sit at any address inside a received payload.
struct ReportRecord {
    static constexpr std::size_t kSize = 298;
    static constexpr std::size_t kJobNameSize = 33;
    static constexpr std::size_t kUrlSize = 256;
    static constexpr uint8_t kMarker = 1;

    char jobName[kJobNameSize];
    char url[kUrlSize];
    uint8_t downloadedBytes[8];
    uint8_t marker;

    int64_t DownloadedBytes() const;
    void SetDownloadedBytes(int64_t bytes);
    // The text up to the terminator, never past the field (a peer's record may
    // lack the terminator).
    std::string_view JobName() const;
    std::string_view Url() const;
};

static_assert(sizeof(ReportRecord) == ReportRecord::kSize);
static_assert(alignof(ReportRecord) == 1);

// A zeroed record with the texts cut to fit their fields (32 and 255 bytes) and
// the marker set.
ReportRecord MakeReportRecord(std::string_view jobName, std::string_view url,
                              int64_t downloadedBytes);

// A copy of the record at bytes (ReportRecord::kSize bytes are there, at any
// alignment).
ReportRecord ReadReportRecord(const uint8_t* bytes);
