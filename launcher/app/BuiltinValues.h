#pragma once

// The controller's values as this build configured them. Included by the
// executable's start-up only, so that one set of sources can be built with
// another configuration (the demo's URLs) without touching the libraries.

#include "launcher/core/DownloaderConfig.h"
#include "tvx/BuiltinConfig.h"

namespace launcher {

inline DownloaderConfig BuiltinDownloaderConfig() {
    DownloaderConfig config;
    config.fileListUrl = tvx::config::kFileListUrl;
    config.gameId = tvx::config::kGameId;
    config.downloadMode = tvx::config::kDownloadMode;
    config.skinUrl = tvx::config::kSkinUrl;
    config.gameTitle = tvx::config::kGameTitle;
    config.folderName = tvx::config::kFolderName;
    return config;
}

}  // namespace launcher
