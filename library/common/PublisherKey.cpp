#include "library/common/PublisherKey.h"

#include <mutex>

#include "tvx/PublisherKey.h"

namespace {

std::mutex gMutex;
std::optional<std::string> gOverride;
const std::string gBuiltIn = tvx::config::kPublisherKeyPem;

}  // namespace

const std::string& PublisherKey() {
    std::lock_guard guard(gMutex);
    return gOverride ? *gOverride : gBuiltIn;
}

void SetPublisherKey(std::optional<std::string> key) {
    std::lock_guard guard(gMutex);
    gOverride = std::move(key);
}
