#pragma once

// The launcher's built-in values. They are compiled into the program (the
// executable fills them from its build configuration) and handed to the
// controller; nothing reads a configuration file or the command line.

#include <string>

#include "tvx/PublisherKey.h"

namespace launcher {

struct DownloaderConfig {
    std::string fileListUrl;
    std::string gameId;
    // "2": high-speed (peer-assisted) download, "1": direct only.
    std::string downloadMode = "2";
    std::string skinUrl;
    std::string gameTitle;
    // Last folder of the default download folder, key of the remembered folder.
    std::string folderName;
    // Where the skin is unpacked below; the process's private temporary folder
    // when empty.
    std::string tempFolder;
    // The publisher's public key (PEM): with one, the file list and every game
    // file are taken only as its signed release metadata describes them.
    // Empty: content is unsigned.
    std::string publisherKey = tvx::config::kPublisherKeyPem;
    // Where the newest accepted release version is kept; the settings
    // folder's ReleaseVersion.ini when empty.
    std::string releaseVersionPath;
};

}  // namespace launcher
