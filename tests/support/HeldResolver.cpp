#include "support/HeldResolver.h"

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/Resolver.h"

namespace tvxtest {
namespace {

using namespace std::chrono_literals;

// Process-wide, as the seam is; the destructor of HeldResolver waits until no
// lookup thread is inside it.
struct State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool released = true;
    int inside = 0;
    std::map<std::string, int> lookups;
};

State& Shared() {
    static State state;
    return state;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool Answer(const char* name, std::vector<uint32_t>& ips) {
    in_addr literal{};
    if (inet_pton(AF_INET, name, &literal) == 1) {
        ips.push_back(literal.s_addr);
        return true;
    }
    const std::string_view text(name);
    const bool test = EndsWith(text, ".test");
    const bool nowhere = text.substr(0, 8) == "nowhere.";
    if (!test && !nowhere)
        return false;
    State& state = Shared();
    std::unique_lock lock(state.mutex);
    ++state.inside;
    ++state.lookups[name];
    state.changed.notify_all();
    state.changed.wait_for(lock, 10s, [&] { return state.released; });
    --state.inside;
    state.changed.notify_all();
    if (nowhere)
        return false;
    ips.push_back(htonl(INADDR_LOOPBACK));
    return true;
}

}  // namespace

HeldResolver::HeldResolver() {
    State& state = Shared();
    {
        std::lock_guard lock(state.mutex);
        state.released = false;
        state.lookups.clear();
    }
    platform::SetResolver(&Answer);
}

HeldResolver::~HeldResolver() {
    Release();
    State& state = Shared();
    {
        std::unique_lock lock(state.mutex);
        state.changed.wait_for(lock, 5s, [&] { return state.inside == 0; });
    }
    platform::SetResolver(nullptr);
}

void HeldResolver::Release() {
    State& state = Shared();
    {
        std::lock_guard lock(state.mutex);
        state.released = true;
    }
    state.changed.notify_all();
}

bool HeldResolver::Released() const {
    State& state = Shared();
    std::lock_guard lock(state.mutex);
    return state.released;
}

int HeldResolver::Lookups(const std::string& name) const {
    State& state = Shared();
    std::lock_guard lock(state.mutex);
    const auto it = state.lookups.find(name);
    return it == state.lookups.end() ? 0 : it->second;
}

bool HeldResolver::WaitForLookups(const std::string& name, int count, int timeoutMs) const {
    State& state = Shared();
    std::unique_lock lock(state.mutex);
    return state.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        const auto it = state.lookups.find(name);
        return it != state.lookups.end() && it->second >= count;
    });
}

}  // namespace tvxtest
