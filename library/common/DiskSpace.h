#pragma once

#include <cstdint>

// True when size bytes fit on the file system that holds path: size 0 or
// negative always fits; otherwise it must be strictly below the free bytes.
bool CheckDiskSpace(const char* path, int64_t size);
