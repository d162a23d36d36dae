#include "library/common/CGetPath_Brenholt.h"

#include "platform/Paths.h"

const CGetPath_Brenholt& CGetPath_Brenholt::Instance() {
    static const CGetPath_Brenholt instance;
    return instance;
}

std::string CGetPath_Brenholt::ApplicationDataFolder() {
    std::string base = platform::AppDataFolder();
    if (base.empty())
        base = platform::ExecutableFolder();
    return base;
}

void CGetPath_Brenholt::GetBaseFolder(std::string& out) const {
    out = ApplicationDataFolder() + "Brenholt/";
}

void CGetPath_Brenholt::GetEngineFolder(std::string& out) const {
    GetBaseFolder(out);
    out += "vrDownloader/";
}

void CGetPath_Brenholt::GetEnginePath(std::string& out) const {
    GetEngineFolder(out);
    out += kEngineFileName;
}

std::string CGetPath_Brenholt::BaseFolder() const {
    std::string out;
    GetBaseFolder(out);
    return out;
}

std::string CGetPath_Brenholt::EngineFolder() const {
    std::string out;
    GetEngineFolder(out);
    return out;
}

std::string CGetPath_Brenholt::EnginePath() const {
    std::string out;
    GetEnginePath(out);
    return out;
}
