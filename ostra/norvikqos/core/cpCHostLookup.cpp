#include "ostra/norvikqos/core/cpCHostLookup.h"

#include <mutex>

cpCHostLookup::cpCHostLookup(platform::EventLoop& loop, qvSmartPtr<cpCMutex> lock)
    : lock_(std::move(lock)), resolver_(std::make_unique<platform::AsyncResolver>(loop)) {
    cpCHostCache::Instance().SetLookupService(this);
}

cpCHostLookup::~cpCHostLookup() {
    cpCHostCache::Instance().SetLookupService(nullptr);
    resolver_.reset();
}

void cpCHostLookup::Lookup(const std::string& name, Answer answer) {
    // The answer runs only while the resolver lives, and the resolver goes
    // before the lock reference does.
    cpCMutex* lock = lock_.Get();
    resolver_->Lookup(
        name, [lock, answer = std::move(answer)](bool resolved, const std::vector<uint32_t>& ips) {
            std::lock_guard guard(*lock);
            answer(resolved, ips);
        });
}
