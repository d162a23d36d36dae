#include "launcher/core/Format.h"

#include <cstdio>

namespace launcher {

namespace {

std::string Printf(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// The unit ladder: formats[0] for bytes, then KB, MB, GB, TB; the
// overflow text at 1024 TB and above.
std::string Ladder(int64_t count, const char* const (&formats)[5], const char* overflow) {
    double x = static_cast<double>(count);
    for (const char* format : formats) {
        if (x < 1024.0)
            return Printf(format, x);
        x /= 1024.0;
    }
    return overflow;
}

}  // namespace

std::string SizeText(int64_t bytes) {
    static const char* const kFormats[5] = {"%0.f Bytes", "%.2f KB", "%.2f MB", "%.2f GB",
                                            "%.2f TB"};
    return Ladder(bytes, kFormats, "");
}

std::string SpeedText(int64_t bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return "0 Bytes/Sec";
    static const char* const kFormats[5] = {"%0.f Bytes/Sec", "%0.2f KB/Sec", "%0.2f MB/Sec",
                                            "%0.2f GB/Sec", "%0.2f TB/Sec"};
    return Ladder(bytesPerSecond, kFormats, "0 Bytes/Sec");
}

std::string TimeText(int64_t seconds) {
    const int hours = static_cast<int>((seconds / 3600) % 24);
    const int minutes = static_cast<int>((seconds / 60) % 60);
    const int secs = static_cast<int>(seconds % 60);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hours, minutes, secs);
    return buffer;
}

std::string PercentText(int percent) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d%%", percent);
    return buffer;
}

std::string PositionText(int number, int count, std::string_view fileName) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "[%d/%d]", number, count);
    return std::string(buffer) + std::string(fileName);
}

std::string FileNameOfUrl(std::string_view url) {
    const std::size_t slash = url.rfind('/');
    if (slash == std::string_view::npos)
        return std::string();
    return std::string(url.substr(slash + 1));
}

std::string TextAfterFirstComma(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::string(text);
    return std::string(text.substr(comma + 1));
}

}  // namespace launcher
