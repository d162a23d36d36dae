#pragma once

#include <cstdint>

// The sizes of one job as its file size check found them.
struct SizeCheckResult {
    int64_t totalSize = 0;
    // Bytes the entries already held when the check began.
    int64_t totalDownloaded = 0;
    int32_t entryCount = 0;
};
