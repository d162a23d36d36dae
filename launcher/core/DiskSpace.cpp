#include "launcher/core/DiskSpace.h"

#include "platform/FileSystem.h"

namespace launcher {

int64_t FreeBytes(const std::string& path) {
    return platform::FreeBytes(path);
}

ResultCode DiskCheck(const std::string& folder, int64_t remaining) {
    const uint64_t bits = static_cast<uint64_t>(remaining);
    return TarvoLib_CheckDiskSpace(folder.c_str(), static_cast<uint32_t>(bits),
                                   static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
}

}  // namespace launcher
