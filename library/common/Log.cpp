#include "library/common/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "library/common/PublisherPaths.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace {

constexpr size_t kStackLine = 512;

std::mutex gPathMutex;
std::string gPath;

const std::string& CachedPath() {
    std::lock_guard lock(gPathMutex);
    if (gPath.empty())
        gPath = PublisherDownloaderFolder() + "config/service.log";
    return gPath;
}

}  // namespace

namespace tarvo::detail {

void ResetLogPathCache() {
    std::lock_guard lock(gPathMutex);
    gPath.clear();
}

std::string LogTimeText(long long calendarSeconds) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t t = static_cast<time_t>(calendarSeconds);
    tm local{};
    localtime_r(&t, &local);
    // Built by hand: the weekday and month names must not follow the locale.
    char text[32];
    snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDays[local.tm_wday % 7],
             kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
             local.tm_year + 1900);
    return std::string(text, strnlen(text, 24));
}

}  // namespace tarvo::detail

std::string LogFilePath() {
    return CachedPath();
}

void GetLogFilePath(char* buffer, size_t size) {
    if (!buffer || size == 0)
        return;
    const std::string& path = CachedPath();
    const size_t n = path.size() < size - 1 ? path.size() : size - 1;
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
}

void WriteLog(const char* text) {
    FILE* file = std::fopen(CachedPath().c_str(), "a");
    if (!file)
        return;
    const std::string time = tarvo::detail::LogTimeText(platform::Clock().CalendarSeconds());
    std::fprintf(file, "[%s] %s", time.c_str(), text ? text : "");
    std::fputc('\n', file);
    std::fclose(file);
}

void WriteLogFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        va_end(args);
        return;
    }
    char stackLine[kStackLine];
    std::unique_ptr<char[]> heapLine;
    char* line = stackLine;
    const size_t needed = static_cast<size_t>(length) + 1;
    if (needed > kStackLine) {
        heapLine = std::make_unique<char[]>(needed);
        line = heapLine.get();
    }
    std::vsnprintf(line, needed, format, args);
    va_end(args);
    WriteLog(line);
}

void ResetLogFile() {
    const std::string& path = CachedPath();
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        platform::MakeDirectory(path.substr(0, slash + 1));
    platform::RemoveFile(path);
    if (FILE* file = std::fopen(path.c_str(), "w"))
        std::fclose(file);
}

void TraceDiagnostic(const char*) {}
