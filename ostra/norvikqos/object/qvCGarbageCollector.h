#pragma once

#include <cstdint>
#include <deque>

#include "ostra/norvikqos/core/cpCTimer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

// Holds references for a few seconds before dropping them, so that an object
// outlives the events already queued for it. Connection contexts are released
// only through here.
class qvCGarbageCollector {
  public:
    static constexpr uint32_t kDelaySeconds = 3;
    static constexpr uint32_t kSweepMs = 3000;

    // Starts the sweep timer when a timer manager runs.
    qvCGarbageCollector();
    // Stops the timer, then drops every remaining reference at once.
    ~qvCGarbageCollector();
    qvCGarbageCollector(const qvCGarbageCollector&) = delete;
    qvCGarbageCollector& operator=(const qvCGarbageCollector&) = delete;

    // The process-wide collector; made on first use when COstra has not.
    static qvCGarbageCollector& Instance();
    // Installs or clears the process-wide collector (COstra does this).
    static void SetInstance(qvCGarbageCollector* collector);

    // Takes one more reference, released at the first sweep whose calendar
    // second is past now + 3. An empty reference is ignored.
    void Defer(const qvSmartPtr<>& object);
    // Drops every entry that is due; stops at the first one that is not.
    void Sweep();
    size_t Pending() const { return entries_.size(); }

  private:
    struct Entry {
        qvSmartPtr<> object;
        uint32_t releaseAt = 0;
    };
    static void OnSweepTimer(void* self);

    qvSmartPtr<cpCTimer> timer_;
    std::deque<Entry> entries_;
};
