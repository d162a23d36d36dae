#include "launcher/core/InstanceName.h"

#include <cstdint>
#include <cstdio>

#include "launcher/core/FolderRules.h"

namespace launcher {
namespace {

constexpr size_t kMaxNameLength = 260;

uint64_t Fnv1a64(std::string_view text) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string InFolder(std::string_view folder, std::string_view key, const char* suffix) {
    std::string path = WithSlash(std::string(folder));
    path += key;
    path += suffix;
    return path;
}

}  // namespace

std::string SingleInstanceName(std::string_view fileListUrl) {
    std::string name = "TVXDownloadV3::";
    name += fileListUrl;
    if (name.size() > kMaxNameLength)
        name.resize(kMaxNameLength);
    return name;
}

std::string InstanceKey(std::string_view name, unsigned uid) {
    char key[64];
    std::snprintf(key, sizeof key, "TVXDownloadV3-%u-%016llx", uid,
                  static_cast<unsigned long long>(Fnv1a64(name)));
    return key;
}

std::string InstanceLockPath(std::string_view runtimeFolder, std::string_view key) {
    return InFolder(runtimeFolder, key, ".lock");
}

std::string InstanceSocketPath(std::string_view runtimeFolder, std::string_view key) {
    return InFolder(runtimeFolder, key, ".sock");
}

}  // namespace launcher
