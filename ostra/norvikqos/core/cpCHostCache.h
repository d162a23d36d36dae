#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Maps a host name and port to the IPv4 addresses the name resolves to,
// remembers which of them worked and which failed, and hands out the address to
// try next. A failed address moves to the back of its host's list, so the next
// connection to the same host tries another one.
//
// There is one instance for the whole process. It has no lock of its own: it is
// used only on the worker thread, under the engine lock. Resolve may block the
// calling thread for the length of a name lookup.
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
    };

    cpCHostCache() = default;
    ~cpCHostCache() = default;

    static std::string MakeKey(const char* hostName, uint16_t port);
    HostEntry* Find(const char* hostName, uint16_t port);
    static void ResolveEntry(HostEntry& entry);

    std::map<std::string, HostEntry> entries_;
};
