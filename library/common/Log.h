#pragma once

#include <cstddef>
#include <string>

// The library's support log, service.log in the publisher folder of the
// per-user application data. Every line is opened, appended and closed on its
// own, so the file can be read while the program runs and survives a crash up
// to its last line. A line that cannot be written is lost silently.

// "[" + 24-character local time + "] " + text + LF.
void WriteLog(const char* text);
// printf-style; short lines are formatted on the stack, long ones on the heap.
void WriteLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Makes the log's folders and empties the file (every job downloader does this
// when it is constructed).
void ResetLogFile();
// Copies the path into buffer (at most size - 1 bytes and a NUL). The path is
// computed once per process; a call with no buffer before that does nothing.
void GetLogFilePath(char* buffer, size_t size);
std::string LogFilePath();

// Receives "[TarvoLib_D]" diagnostic lines and discards them.
void TraceDiagnostic(const char* line);

namespace tarvo::detail {
// Forgets the cached path, so that the next line recomputes it (tests change
// the application-data folder between cases).
void ResetLogPathCache();
// The 24-character time text of a calendar second, e.g. "Tue Jun 08 21:06:35 2021".
std::string LogTimeText(long long calendarSeconds);
}  // namespace tarvo::detail
