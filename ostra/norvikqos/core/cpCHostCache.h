#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Runs the cache's name lookups off the caller's thread. Answers come back on
// the worker thread with the engine lock held.
class cpIHostLookupService {
  public:
    using Answer = std::function<void(bool resolved, const std::vector<uint32_t>& ips)>;
    virtual void Lookup(const std::string& name, Answer answer) = 0;

  protected:
    ~cpIHostLookupService() = default;
};

// What Lookup could tell at once.
enum class cpEHostLookup {
    kAddress,    // an address was handed out
    kNoAddress,  // none: the name did not resolve (or there is no name)
    kPending,    // a lookup runs; the answer comes later
};

// The later answer of a pending Lookup: the address to try, or resolved false.
using cpHostAnswer = std::function<void(bool resolved, uint32_t ip)>;

// Maps a host name and port to the IPv4 addresses the name resolves to,
// remembers which of them worked and which failed, and hands out the address to
// try next. A failed address moves to the back of its host's list, so the next
// connection to the same host tries another one.
//
// There is one instance for the whole process. It has no lock of its own: it is
// used only under the engine lock. Lookup never blocks once a lookup service is
// installed; Resolve blocks the calling thread for the length of a lookup.
class cpCHostCache {
  public:
    // The single process-wide instance.
    static cpCHostCache& Instance();

    // Sets ip (network byte order) to 0, then to the address to try next; false
    // when there is none (the name did not resolve, or a null or empty name).
    // The first call for a host and port makes its entry and looks the name up;
    // later calls look it up again only when no address has worked yet and the
    // last lookup is at least 5 seconds old.
    bool Resolve(const char* hostName, uint16_t port, uint32_t& ip);

    // The same rules as Resolve, without waiting: where Resolve would look the
    // name up, the lookup runs on the service and kPending is returned; answer
    // is then called once the lookup has ended (with what Resolve would have
    // given), unless the service is replaced first. Concurrent callers for
    // one host and port share one lookup. Without a service the lookup runs
    // here, as in Resolve.
    cpEHostLookup Lookup(const char* hostName, uint16_t port, uint32_t& ip, cpHostAnswer answer);

    // Installs the service for later lookups (nullptr: none). Callers still
    // waiting on the old one are dropped without an answer.
    void SetLookupService(cpIHostLookupService* service);

    // The connection to ip worked: it goes to the front and is handed out until
    // it is reported failed. Unknown hosts or addresses change nothing.
    void ReportAddressGood(const char* hostName, uint16_t port, uint32_t ip);

    // The connection to ip failed: it goes to the back and is kept there for 30
    // seconds even when the resolver stops returning it. Unknown hosts or
    // addresses change nothing.
    void ReportAddressFailed(const char* hostName, uint16_t port, uint32_t ip);

    cpCHostCache(const cpCHostCache&) = delete;
    cpCHostCache& operator=(const cpCHostCache&) = delete;

  private:
    struct AddressRecord {
        uint32_t ip = 0;           // network byte order
        bool good = false;         // reported good
        uint32_t failureTime = 0;  // calendar seconds of the last failure report; 0: none
    };

    struct HostEntry {
        std::string hostName;
        uint16_t port = 0;
        uint32_t lastResolution = 0;  // calendar seconds
        std::vector<AddressRecord> addresses;
        // The lookup on the service, if one runs: its number and who waits.
        uint64_t lookup = 0;
        std::vector<cpHostAnswer> waiters;
    };

    cpCHostCache() = default;
    ~cpCHostCache() = default;

    static std::string MakeKey(const char* hostName, uint16_t port);
    HostEntry* Find(const char* hostName, uint16_t port);
    static void ResolveEntry(HostEntry& entry);
    static void ApplyResolution(HostEntry& entry, const std::vector<uint32_t>& ips);
    // The address Resolve hands out once the entry is current.
    static bool Pick(const HostEntry& entry, uint32_t& ip);
    void OnLookupDone(const std::string& key, uint64_t lookup, const std::vector<uint32_t>& ips);

    std::map<std::string, HostEntry> entries_;
    cpIHostLookupService* service_ = nullptr;
    uint64_t lastLookup_ = 0;
};
