#include "launcher/core/FolderPlaces.h"

#include <climits>
#include <cstdlib>

#include "launcher/core/FolderRules.h"
#include "platform/Paths.h"

namespace launcher {

std::string ProgramFolder() {
    return WithSlash(platform::ProgramFolder());
}

std::string ProgramEnginePath() {
    return EnginePath(ProgramFolder());
}

std::string DefaultDownloadFolderFor(std::string_view folderName) {
    const std::string home = platform::HomeFolder();
    return home.empty() ? std::string() : DefaultDownloadFolder(home, folderName);
}

std::string ResolvedFolder(const std::string& folder) {
    // Walk up to the nearest part that exists, resolve it, and put the part
    // that does not exist yet back on as written.
    std::string head = folder;
    while (head.size() > 1 && head.back() == '/')
        head.pop_back();
    std::string rest;
    while (!head.empty()) {
        char resolved[PATH_MAX];
        if (realpath(head.c_str(), resolved) != nullptr)
            return WithSlash(WithSlash(resolved) + rest);
        const size_t slash = head.rfind('/');
        if (slash == std::string::npos || head == "/")
            return {};
        std::string name = head.substr(slash + 1);
        rest = rest.empty() ? std::move(name) : name + "/" + rest;
        head.resize(slash == 0 ? 1 : slash);
    }
    return {};
}

}  // namespace launcher
