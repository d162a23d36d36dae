#pragma once

#include <mutex>
#include <vector>

#include "ostra/norvikqos/object/qvCString.h"

// Content types of POST parts by name. One instance per process (see
// GetMimeTypeMap); it starts empty, so every lookup gives
// "application/octet-stream" until a type is registered.
class nwCHttpMimeTypeMap {
  public:
    static constexpr const char* kDefaultType = "application/octet-stream";

    virtual ~nwCHttpMimeTypeMap() = default;
    // Forgets every registered type.
    virtual void Clear();

    // Adds or replaces the type of an exact name; null or empty texts are ignored.
    void Register(const char* name, const char* type);
    // The type registered for exactly this name, else kDefaultType (also for a
    // null or empty name).
    qvCString Lookup(const char* name) const;

  private:
    struct Pair {
        qvCString name;
        qvCString type;
    };
    mutable std::mutex mutex_;
    std::vector<Pair> pairs_;
};

// The process-wide map, created on first use.
nwCHttpMimeTypeMap& GetMimeTypeMap();
// GetMimeTypeMap().Lookup(name).
qvCString LookupMimeType(const char* name);
