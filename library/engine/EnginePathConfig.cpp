#include "library/engine/EnginePathConfig.h"

#include <atomic>
#include <mutex>

#include "tvx/BuiltinConfig.h"

namespace tarvo {
namespace {

std::mutex& UrlMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& ManifestUrl() {
    static std::string url = std::string(tvx::config::kUpdateServerUrl) + kUpdateManifestPath;
    return url;
}

// Constant-initialised, so that a setting made from a static initialiser of
// another file is never overwritten.
constinit std::atomic<bool> gEnginePathEnabled{true};

}  // namespace

std::string UpdateManifestUrl() {
    std::lock_guard guard(UrlMutex());
    return ManifestUrl();
}

void SetUpdateManifestUrl(const std::string& url) {
    std::lock_guard guard(UrlMutex());
    ManifestUrl() = url;
}

bool EnginePathEnabled() {
    return gEnginePathEnabled.load();
}

void SetEnginePathEnabled(bool enabled) {
    gEnginePathEnabled.store(enabled);
}

}  // namespace tarvo
