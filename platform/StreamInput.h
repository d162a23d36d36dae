#pragma once

// Reading a byte stream (standard input, a pipe, a terminal) together with
// other wake-up descriptors, for programs that wait on both without polling.

#include <cstddef>
#include <string>

namespace platform {

// The process's standard input.
int StandardInput();

// True when the descriptor is a terminal (typed input echoes by itself).
bool IsTerminal(int fd);

struct WaitItem {
    int fd = -1;
    bool ready = false;  // set when the descriptor is readable or its stream ended
};

enum class WaitResult { kReady, kTimedOut, kInterrupted, kFailed };

// Waits until one of the descriptors is readable, or timeoutMs has passed
// (-1: no limit). Sets each item's ready flag.
WaitResult WaitReadable(WaitItem* items, size_t count, int timeoutMs);

enum class ReadResult { kData, kNothingNow, kEnd };

// Appends what the stream holds now to out. A stream that cannot be read
// counts as ended.
ReadResult ReadAvailable(int fd, std::string& out);

}  // namespace platform
