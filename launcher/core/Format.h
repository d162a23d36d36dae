#pragma once

// Number, size, speed and time formatting. Small pure functions that
// take plain numbers and return narrow strings; no state, no Qt.

#include <cstdint>
#include <string>
#include <string_view>

namespace launcher {

// "%0.f Bytes", then "%.2f KB", "MB", "GB", "TB" in steps of 1024 (each
// comparison strictly below 1024 on the value already divided); empty at
// 1024 TB and above. Negative counts stay in bytes ("-5 Bytes").
std::string SizeText(int64_t bytes);

// "0 Bytes/Sec" for 0 or less; else "%0.f Bytes/Sec", "%0.2f KB/Sec", "MB",
// "GB", "TB"; "0 Bytes/Sec" again at 1024 TB per second and above.
std::string SpeedText(int64_t bytesPerSecond);

// "%02d:%02d:%02d" of (s / 3600) % 24, (s / 60) % 60 and s % 60: whole days
// are dropped.
std::string TimeText(int64_t seconds);

// "%d%%".
std::string PercentText(int percent);

// "[%d/%d]%s": one-based file number, file count, file name.
std::string PositionText(int number, int count, std::string_view fileName);

// The characters after the last "/"; empty when there is none (or the URL
// ends in "/").
std::string FileNameOfUrl(std::string_view url);

// The characters after the first ","; the whole text when there is none;
// empty for an empty input.
std::string TextAfterFirstComma(std::string_view text);

}  // namespace launcher
