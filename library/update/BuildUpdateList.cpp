#include "library/update/BuildUpdateList.h"

#include "library/common/Log.h"
#include "library/update/ReadFileVersion.h"
#include "platform/FileSystem.h"

std::vector<std::string> BuildUpdateList(const std::string& enginePath,
                                         const std::string& offeredVersion) {
    std::vector<std::string> paths;
    const std::string installed = ReadFileVersion(enginePath);
    WriteLogFormat("[TarvoLib] Current Version: %s / New Version: %s", installed.c_str(),
                   offeredVersion.c_str());
    if (installed != offeredVersion || !platform::PathExists(enginePath))
        paths.push_back(enginePath);
    WriteLogFormat("[TarvoLib] Update File (Count: %d)", static_cast<int>(paths.size()));
    return paths;
}
