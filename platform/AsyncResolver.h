#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class EventLoop;

// Looks host names up off the event loop's thread and hands each answer back
// inside the loop, so the loop (and any thread that starts a lookup) never
// waits on a name server. Each lookup runs on a short-lived thread of its own:
// one name server that hangs delays only the lookups of that name.
//
// Lookup may be called from any thread; answers always run on the loop's
// thread. Once the resolver is destroyed no answer is delivered, and a lookup
// still blocked in the system resolver ends on its own without touching it.
class AsyncResolver {
  public:
    // resolved is false when the name has no IPv4 address; ips is then empty.
    using Answer = std::function<void(bool resolved, const std::vector<uint32_t>& ips)>;

    explicit AsyncResolver(EventLoop& loop);
    ~AsyncResolver();
    AsyncResolver(const AsyncResolver&) = delete;
    AsyncResolver& operator=(const AsyncResolver&) = delete;

    // Starts the lookup of name (through platform::ResolveAll, so a test
    // resolver answers here too). answer runs later in the loop, never from
    // inside this call; it is destroyed on the loop's thread or with the
    // resolver.
    void Lookup(const std::string& name, Answer answer);

    // Lookups whose answer has not run yet.
    size_t Pending() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace platform
