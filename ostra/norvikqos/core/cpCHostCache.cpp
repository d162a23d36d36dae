#include "ostra/norvikqos/core/cpCHostCache.h"

#include <algorithm>
#include <cstdio>

#include "platform/Clock.h"
#include "platform/Resolver.h"

namespace {

// A failed address is kept at the back of its host's list this long.
constexpr uint32_t kFailureMemorySeconds = 30;
// While no address has worked, a host is looked up again at most this often.
constexpr uint32_t kReresolveSeconds = 5;

}  // namespace

cpCHostCache& cpCHostCache::Instance() {
    // Made on first use, which is before any connection is opened, and
    // destroyed with its entries at exit.
    static cpCHostCache instance;
    return instance;
}

std::string cpCHostCache::MakeKey(const char* hostName, uint16_t port) {
    char portText[8];
    std::snprintf(portText, sizeof portText, ":%d", static_cast<int>(port));
    std::string key(hostName);
    key += portText;
    return key;
}

cpCHostCache::HostEntry* cpCHostCache::Find(const char* hostName, uint16_t port) {
    if (!hostName || !*hostName)
        return nullptr;
    const auto it = entries_.find(MakeKey(hostName, port));
    return it == entries_.end() ? nullptr : &it->second;
}

void cpCHostCache::ResolveEntry(HostEntry& entry) {
    std::vector<uint32_t> ips;
    platform::ResolveAll(entry.hostName.c_str(), ips);
    ApplyResolution(entry, ips);
}

// The list after a lookup: what worked, then what is new, then what failed in
// the last 30 seconds. "Now" is when the answer is in, which is what the
// 5-second rule and the failure memory count from.
void cpCHostCache::ApplyResolution(HostEntry& entry, const std::vector<uint32_t>& ips) {
    const uint32_t now = platform::Clock().CalendarSeconds();

    std::vector<AddressRecord> good;
    std::vector<AddressRecord> failed;
    for (const AddressRecord& record : entry.addresses) {
        if (record.good)
            good.push_back(record);
        else if (record.failureTime != 0 &&
                 static_cast<uint32_t>(now - record.failureTime) <= kFailureMemorySeconds)
            failed.push_back(record);
    }

    std::vector<AddressRecord> fresh;
    const auto holds = [](const std::vector<AddressRecord>& group, uint32_t ip) {
        return std::any_of(group.begin(), group.end(),
                           [ip](const AddressRecord& r) { return r.ip == ip; });
    };
    for (uint32_t ip : ips) {
        if (!holds(good, ip) && !holds(failed, ip))
            fresh.push_back(AddressRecord{ip, false, 0});
    }

    entry.lastResolution = now;
    entry.addresses = std::move(good);
    entry.addresses.insert(entry.addresses.end(), fresh.begin(), fresh.end());
    entry.addresses.insert(entry.addresses.end(), failed.begin(), failed.end());
}

bool cpCHostCache::Pick(const HostEntry& entry, uint32_t& ip) {
    const auto goodRecord = std::find_if(entry.addresses.begin(), entry.addresses.end(),
                                         [](const AddressRecord& r) { return r.good; });
    const auto chosen = goodRecord != entry.addresses.end() ? goodRecord : entry.addresses.begin();
    if (chosen == entry.addresses.end())
        return false;
    ip = chosen->ip;
    return true;
}

cpEHostLookup cpCHostCache::Lookup(const char* hostName, uint16_t port, uint32_t& ip,
                                   cpHostAnswer answer) {
    ip = 0;
    if (!hostName || !*hostName)
        return cpEHostLookup::kNoAddress;
    const std::string key = MakeKey(hostName, port);
    auto [it, made] = entries_.try_emplace(key);
    HostEntry& entry = it->second;
    if (made) {
        entry.hostName = hostName;
        entry.port = port;
    }
    // An address that worked is handed out at once, even while a lookup runs.
    const auto goodRecord = std::find_if(entry.addresses.begin(), entry.addresses.end(),
                                         [](const AddressRecord& r) { return r.good; });
    if (goodRecord != entry.addresses.end()) {
        ip = goodRecord->ip;
        return cpEHostLookup::kAddress;
    }
    if (entry.lookup == 0 && !made) {
        const uint32_t now = platform::Clock().CalendarSeconds();
        if (static_cast<uint32_t>(now - entry.lastResolution) < kReresolveSeconds)
            return Pick(entry, ip) ? cpEHostLookup::kAddress : cpEHostLookup::kNoAddress;
    }
    if (!service_) {
        ResolveEntry(entry);
        return Pick(entry, ip) ? cpEHostLookup::kAddress : cpEHostLookup::kNoAddress;
    }
    if (answer)
        entry.waiters.push_back(std::move(answer));
    if (entry.lookup == 0) {
        const uint64_t lookup = ++lastLookup_;
        entry.lookup = lookup;
        // The entry is found again by its key: entries are never removed, but
        // the answer must not hold on to a map node across the lookup.
        service_->Lookup(entry.hostName,
                         [this, key, lookup](bool, const std::vector<uint32_t>& ips) {
                             OnLookupDone(key, lookup, ips);
                         });
    }
    return cpEHostLookup::kPending;
}

void cpCHostCache::OnLookupDone(const std::string& key, uint64_t lookup,
                                const std::vector<uint32_t>& ips) {
    const auto it = entries_.find(key);
    if (it == entries_.end() || it->second.lookup != lookup)
        return;
    HostEntry& entry = it->second;
    entry.lookup = 0;
    ApplyResolution(entry, ips);
    uint32_t ip = 0;
    const bool resolved = Pick(entry, ip);
    // Taken out first: a waiter may start the next lookup of this entry.
    std::vector<cpHostAnswer> waiters = std::move(entry.waiters);
    entry.waiters.clear();
    for (auto& waiter : waiters)
        waiter(resolved, ip);
}

void cpCHostCache::SetLookupService(cpIHostLookupService* service) {
    service_ = service;
    for (auto& [key, entry] : entries_) {
        entry.lookup = 0;
        entry.waiters.clear();
    }
}

bool cpCHostCache::Resolve(const char* hostName, uint16_t port, uint32_t& ip) {
    ip = 0;
    if (!hostName || !*hostName)
        return false;

    auto [it, made] = entries_.try_emplace(MakeKey(hostName, port));
    HostEntry& entry = it->second;
    if (made) {
        entry.hostName = hostName;
        entry.port = port;
        ResolveEntry(entry);
    }

    const auto goodRecord = std::find_if(entry.addresses.begin(), entry.addresses.end(),
                                         [](const AddressRecord& r) { return r.good; });
    if (goodRecord != entry.addresses.end()) {
        ip = goodRecord->ip;
        return true;
    }

    const uint32_t now = platform::Clock().CalendarSeconds();
    if (static_cast<uint32_t>(now - entry.lastResolution) >= kReresolveSeconds)
        ResolveEntry(entry);

    if (entry.addresses.empty())
        return false;
    ip = entry.addresses.front().ip;
    return true;
}

void cpCHostCache::ReportAddressGood(const char* hostName, uint16_t port, uint32_t ip) {
    HostEntry* entry = Find(hostName, port);
    if (!entry)
        return;
    auto& list = entry->addresses;
    const auto it =
        std::find_if(list.begin(), list.end(), [ip](const AddressRecord& r) { return r.ip == ip; });
    if (it == list.end())
        return;
    // Rotate instead of erase and insert: the list stays one block and the
    // other records keep their order.
    std::rotate(list.begin(), it, it + 1);
    list.front().good = true;
    list.front().failureTime = 0;
}

void cpCHostCache::ReportAddressFailed(const char* hostName, uint16_t port, uint32_t ip) {
    HostEntry* entry = Find(hostName, port);
    if (!entry)
        return;
    auto& list = entry->addresses;
    const auto it =
        std::find_if(list.begin(), list.end(), [ip](const AddressRecord& r) { return r.ip == ip; });
    if (it == list.end())
        return;
    std::rotate(it, it + 1, list.end());
    list.back().good = false;
    list.back().failureTime = platform::Clock().CalendarSeconds();
}
