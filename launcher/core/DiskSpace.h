#pragma once

// Free space as the launcher shows and checks it.

#include <cstdint>
#include <string>

#include "TarvoLib.h"

namespace launcher {

// The total free bytes of the file system that holds path (or its nearest
// existing ancestor); 0 when the query fails.
int64_t FreeBytes(const std::string& path);

// The library's check of remaining bytes against the folder's free space: 512
// when remaining is 0 or less or strictly below the free bytes.
ResultCode DiskCheck(const std::string& folder, int64_t remaining);

}  // namespace launcher
