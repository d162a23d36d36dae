#include "ostra/norvikqos/http/nwCHttpMimeTypeMap.h"

#include <cstring>

void nwCHttpMimeTypeMap::Clear() {
    const std::lock_guard lock(mutex_);
    pairs_.clear();
}

void nwCHttpMimeTypeMap::Register(const char* name, const char* type) {
    if (!name || !*name || !type || !*type)
        return;
    const std::lock_guard lock(mutex_);
    for (auto& pair : pairs_) {
        if (std::strcmp(pair.name.CStr(), name) == 0) {
            pair.type.Assign(type);
            return;
        }
    }
    pairs_.push_back({qvCString(name), qvCString(type)});
}

qvCString nwCHttpMimeTypeMap::Lookup(const char* name) const {
    if (!name || !*name)
        return qvCString(kDefaultType);
    const std::lock_guard lock(mutex_);
    for (const auto& pair : pairs_) {
        if (std::strcmp(pair.name.CStr(), name) == 0)
            return pair.type;
    }
    return qvCString(kDefaultType);
}

nwCHttpMimeTypeMap& GetMimeTypeMap() {
    static nwCHttpMimeTypeMap map;
    return map;
}

qvCString LookupMimeType(const char* name) {
    return GetMimeTypeMap().Lookup(name);
}
