#pragma once

#include <string>

#include "library/common/IGetPath.h"

// The publisher's per-user folders: <application data>/Brenholt/vrDownloader/
// holds the local engine program and, below config/, the library's log. When
// no application-data folder is known the executable's folder stands in.
class CGetPath_Brenholt final : public IGetPath {
  public:
    // The engine program's file name inside the engine folder.
    static constexpr const char* kEngineFileName = "vrDownload.exe";

    // The process-wide instance.
    static const CGetPath_Brenholt& Instance();

    // The application-data folder (else the executable's), ending in "/".
    static std::string ApplicationDataFolder();

    void GetBaseFolder(std::string& out) const override;
    void GetEngineFolder(std::string& out) const override;
    void GetEnginePath(std::string& out) const override;

    std::string BaseFolder() const;
    std::string EngineFolder() const;
    std::string EnginePath() const;
};
