#pragma once

// The file list's check against the publisher's signed release metadata: the
// list is taken only when the metadata is signed by the built-in key, is
// meant for these exact bytes, names every URL of the list, has not expired
// and is no older than the newest release this user has accepted. The newest
// accepted version is kept per list URL in the launcher's settings folder,
// so that an older signed list served again (a replay) is refused.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/ReleaseMetadata.h"

namespace launcher {

// $XDG_CONFIG_HOME (else ~/.config) + "Velmora Inc./ReleaseVersion.ini"; empty
// without a configuration folder.
std::string ReleaseVersionIniPath();

// The newest version accepted for the list at listUrl; 0 when none.
uint64_t AcceptedReleaseVersion(const std::string& iniPath, std::string_view listUrl);
// Records version for listUrl (replacing the file whole). False when it could
// not be written.
bool StoreAcceptedReleaseVersion(const std::string& iniPath, std::string_view listUrl,
                                 uint64_t version);

struct FileListCheck {
    ReleaseCheck result = ReleaseCheck::kMalformed;
    // Set when accepted: what every listed file must be.
    ReleaseMetadata metadata;
    // The URL the check failed on (a list URL the metadata does not name).
    std::string url;
};

// Checks list (its exact bytes) and the URLs parsed from it against the
// metadata text; records the version when accepted. now is Unix time.
FileListCheck CheckSignedFileList(std::string_view list, const std::vector<std::string>& urls,
                                  std::string_view metadataText, std::string_view publicPem,
                                  const std::string& iniPath, std::string_view listUrl,
                                  int64_t now);

}  // namespace launcher
