#pragma once

#include <memory>
#include <string>

#include "ostra/norvikqos/core/cpCHostCache.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"
#include "platform/AsyncResolver.h"

// The host address cache's lookups for the worker's loop: names are looked up
// on resolver threads and the answers come back in the loop with the engine
// lock held, like every other network event. Installed in the cache for as
// long as it exists.
class cpCHostLookup final : public cpIHostLookupService {
  public:
    cpCHostLookup(platform::EventLoop& loop, qvSmartPtr<cpCMutex> lock);
    ~cpCHostLookup();
    cpCHostLookup(const cpCHostLookup&) = delete;
    cpCHostLookup& operator=(const cpCHostLookup&) = delete;

    void Lookup(const std::string& name, Answer answer) override;

  private:
    qvSmartPtr<cpCMutex> lock_;
    // Declared last: it goes first, so no answer runs once the lock is gone.
    std::unique_ptr<platform::AsyncResolver> resolver_;
};
