// The readers of the local engine's messages on arbitrary payloads: the first
// byte picks the message, the rest is its payload. Every reader must stay
// inside the payload whatever its length and content claim.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ostra/norvikqos/link/nwCDNLocalMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t pick = data[0];
    // A copy of exactly the payload's size, so that any read past it is seen.
    const std::vector<uint8_t> payload(data + 1, data + size);
    const uint8_t* p = payload.empty() ? nullptr : payload.data();
    const auto n = static_cast<uint32_t>(payload.size());
    switch (pick % 10) {
        case 0: {
            nwCDNJobAcceptedRecord r;
            nwReadJobAccepted(p, n, r);
            break;
        }
        case 1: {
            nwCDNJobProgressRecord r;
            std::vector<nwCDNProgressEntry> entries;
            if (nwReadJobProgress(p, n, r, entries))
                for (const nwCDNProgressEntry& e : r.entries)
                    (void)e.text.size();
            break;
        }
        case 2: {
            nwCDNJobFinishedRecord r;
            nwReadJobFinished(p, n, r);
            break;
        }
        case 3: {
            nwCDNFileCompletedRecord r;
            nwReadFileCompleted(p, n, r);
            break;
        }
        case 4: {
            nwCDNFileCompletedRecord r;
            nwReadFileCompletedDetail(p, n, r);
            break;
        }
        case 5: {
            nwCDNEngineNoticeRecord r;
            nwReadEngineNotice(p, n, r);
            break;
        }
        case 6: {
            nwCDNNetworkRecord r;
            nwReadNetworkChange(p, n, r);
            break;
        }
        case 7: {
            nwCDNJobErrorRecord r;
            nwReadJobError(p, n, r);
            break;
        }
        case 8: {
            uint32_t serial = 0;
            nwReadResumeQuestion(p, n, serial);
            break;
        }
        default: {
            uint32_t value = 0;
            nwReadEngineState(p, n, value);
            break;
        }
    }
    return 0;
}
