#pragma once

namespace platform {

// A wake-up another thread can raise: a handle that reads as ready from the
// first Raise() until Clear(), for a loop that waits on it beside its input.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool IsValid() const { return fd_ >= 0; }
    // The handle to wait on for readability.
    int Handle() const { return fd_; }
    // Thread-safe.
    void Raise();
    void Clear();

  private:
    int fd_ = -1;
};

}  // namespace platform
