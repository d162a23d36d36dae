#pragma once

#include <chrono>
#include <cstdint>

namespace engine::torrent {

// The upload limit that adapts to the uplink: uploads to peers take most of
// it, never all, so that the engine's own requests and acknowledgements (and
// the player's other traffic) never queue behind them. What is left for those
// grows with what the engine downloads: TCP acknowledges every second
// segment, about 2.3 % of the bytes that come down.
//
// The uplink's rate is what uploads reached with no limit at all. That is
// measured in short probes: from the first upload on, and again whenever the uploads press
// against the limit, less often while probes find nothing more. Between
// probes the limit is a share of the highest rate seen, less room for the
// acknowledgements of the engine's downloads.
class UploadLimit {
  public:
    using Clock = std::chrono::steady_clock;

    // Share of the measured uplink that uploads may take between probes.
    static constexpr double kShare = 0.95;
    // Uplink kept free for each byte per second downloaded: acknowledgements
    // (2.3 %) and the requests and headers around them, with room to spare.
    static constexpr double kAckShare = 0.04;
    // The limit never goes below this, whatever was measured (bytes/s).
    static constexpr int64_t kFloor = 128 << 10;
    static constexpr auto kProbeTime = std::chrono::seconds(2);
    static constexpr auto kFirstInterval = std::chrono::seconds(3);
    static constexpr auto kLongestInterval = std::chrono::seconds(60);

    // One measurement of what went up and what came down (bytes per second
    // over the last while); returns the limit to apply, 0 for none.
    int64_t OnSample(int64_t upBytesPerSecond, int64_t downBytesPerSecond, Clock::time_point now);

    int64_t Limit() const { return probing_ ? 0 : limit_; }
    int64_t MeasuredUplink() const { return peak_; }

  private:
    int64_t LimitFor(int64_t downBytesPerSecond) const;

    // The first probe runs from the first real upload on.
    bool probing_ = true;
    bool probeStarted_ = false;
    int64_t peak_ = 0;
    int64_t peakBeforeProbe_ = 0;
    int64_t limit_ = kFloor;
    Clock::time_point probeEnds_{};
    Clock::time_point nextProbe_{};
    Clock::duration interval_ = kFirstInterval;
};

}  // namespace engine::torrent
