#include "library/common/DiskSpace.h"

#include "platform/FileSystem.h"

bool CheckDiskSpace(const char* path, int64_t size) {
    if (size <= 0)
        return true;
    const int64_t free = path && *path ? platform::FreeBytes(path) : 0;
    return size < free;
}
