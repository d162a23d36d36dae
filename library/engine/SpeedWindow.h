#pragma once

#include <array>
#include <cstdint>

// The engine's last ten speed samples; the average smooths the engine's
// reports over the ten seconds before the newest one.
class SpeedWindow {
  public:
    static constexpr int kSamples = 10;
    static constexpr int64_t kSpanSeconds = 10;

    void Add(int64_t timeStamp, int64_t speed);
    // 0 when nothing was added; else the integer mean of the samples with a
    // time stamp at most kSpanSeconds before the newest one.
    int64_t Average() const;
    void Reset();

  private:
    struct Sample {
        int64_t timeStamp = 0;
        int64_t speed = 0;
    };
    std::array<Sample, kSamples> samples_{};
    int index_ = -1;
};
