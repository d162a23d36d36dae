#include "platform/AsyncResolver.h"

#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/Resolver.h"

namespace platform {

// What the lookup threads and the posted answers share with the resolver. The
// answers stay here, on the loop's side: a lookup thread carries only its
// request number and the name, so nothing of the caller is ever touched or
// destroyed on it.
struct AsyncResolver::Shared {
    mutable std::mutex mutex;
    EventLoop* loop = nullptr;  // none once the resolver is gone
    uint64_t lastRequest = 0;
    std::map<uint64_t, Answer> answers;

    void Post(const std::shared_ptr<Shared>& self, uint64_t request, bool resolved,
              std::vector<uint32_t> ips) {
        std::lock_guard lock(mutex);
        if (!loop)
            return;
        loop->Post([self, request, resolved, ips = std::move(ips)] {
            self->Deliver(request, resolved, ips);
        });
    }

    void Deliver(uint64_t request, bool resolved, const std::vector<uint32_t>& ips) {
        Answer answer;
        {
            std::lock_guard lock(mutex);
            const auto it = answers.find(request);
            if (!loop || it == answers.end())
                return;
            answer = std::move(it->second);
            answers.erase(it);
        }
        // Outside the mutex: the answer may start the next lookup.
        answer(resolved, ips);
    }
};

AsyncResolver::AsyncResolver(EventLoop& loop) : shared_(std::make_shared<Shared>()) {
    shared_->loop = &loop;
}

AsyncResolver::~AsyncResolver() {
    std::map<uint64_t, Answer> dropped;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->loop = nullptr;
        dropped.swap(shared_->answers);
    }
}

void AsyncResolver::Lookup(const std::string& name, Answer answer) {
    uint64_t request = 0;
    {
        std::lock_guard lock(shared_->mutex);
        request = ++shared_->lastRequest;
        shared_->answers.emplace(request, std::move(answer));
    }
    try {
        // Detached: the system resolver cannot be interrupted, and shutdown
        // must not wait for a name server that does not answer.
        std::thread([shared = shared_, request, name] {
            std::vector<uint32_t> ips;
            const bool resolved = ResolveAll(name.c_str(), ips);
            shared->Post(shared, request, resolved, std::move(ips));
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the name counts as unresolved, answered in the
        // loop like any other.
        shared_->Post(shared_, request, false, {});
    }
}

size_t AsyncResolver::Pending() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->answers.size();
}

}  // namespace platform
