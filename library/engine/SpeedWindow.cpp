#include "library/engine/SpeedWindow.h"

#include <cstddef>

void SpeedWindow::Add(int64_t timeStamp, int64_t speed) {
    index_ = index_ + 1 >= kSamples ? 0 : index_ + 1;
    samples_[static_cast<std::size_t>(index_)] = Sample{timeStamp, speed};
}

int64_t SpeedWindow::Average() const {
    if (index_ < 0)
        return 0;
    const int64_t newest = samples_[static_cast<std::size_t>(index_)].timeStamp;
    int64_t sum = 0;
    int64_t count = 0;
    for (const Sample& s : samples_) {
        if (s.timeStamp == 0 || newest - s.timeStamp > kSpanSeconds)
            continue;
        sum += s.speed;
        ++count;
    }
    return count == 0 ? 0 : sum / count;
}

void SpeedWindow::Reset() {
    samples_.fill(Sample{});
    index_ = -1;
}
