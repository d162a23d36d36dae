#include "engine/torrent/UploadLimit.h"

#include <algorithm>

namespace engine::torrent {

int64_t UploadLimit::OnSample(int64_t upBytesPerSecond, int64_t downBytesPerSecond,
                              Clock::time_point now) {
    const int64_t bytesPerSecond = upBytesPerSecond;
    peak_ = std::max(peak_, bytesPerSecond);
    if (probing_) {
        if (!probeStarted_) {
            if (bytesPerSecond < kFloor)
                return 0;
            probeStarted_ = true;
            probeEnds_ = now + kProbeTime;
        }
        if (now < probeEnds_)
            return 0;
        probing_ = false;
        // A probe that found a faster uplink is repeated soon; one that found
        // nothing new waits twice as long as the last.
        if (peak_ > peakBeforeProbe_ + peakBeforeProbe_ / 10)
            interval_ = kFirstInterval;
        else
            interval_ = std::min<Clock::duration>(interval_ * 2, kLongestInterval);
        nextProbe_ = now + interval_;
        limit_ = LimitFor(downBytesPerSecond);
        return limit_;
    }
    limit_ = LimitFor(downBytesPerSecond);
    // Uploads that reach the limit may be held back by it rather than by the
    // uplink: time to look again.
    const bool pressed = bytesPerSecond >= limit_ - limit_ / 10;
    if (pressed && now >= nextProbe_) {
        probing_ = true;
        peakBeforeProbe_ = peak_;
        probeEnds_ = now + kProbeTime;
        return 0;
    }
    return limit_;
}

int64_t UploadLimit::LimitFor(int64_t downBytesPerSecond) const {
    const double limit = static_cast<double>(peak_) * kShare -
                         static_cast<double>(downBytesPerSecond) * kAckShare;
    return std::max<int64_t>(kFloor, static_cast<int64_t>(limit));
}

}  // namespace engine::torrent
