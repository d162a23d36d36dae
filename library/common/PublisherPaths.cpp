#include "library/common/PublisherPaths.h"

#include "platform/Paths.h"

std::string PublisherBaseFolder() {
    std::string base = platform::AppDataFolder();
    if (base.empty())
        base = platform::ExecutableFolder();
    return base + "Brenholt/";
}

std::string PublisherDownloaderFolder() {
    return PublisherBaseFolder() + "vrDownloader/";
}
