#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>

#include "platform/EventLoop.h"

// The wait for a started engine to become ready. The engine inherits the
// write end of a pipe (its number in TVX_READY_FD) and writes a byte or
// closes it once it accepts connections; the wait also ends when the process
// ends. On an event loop it waits without blocking; the callback runs on the
// loop's thread, once, and never after the wait was destroyed.
class CEngineReadyWait final : public platform::IFdHandler {
  public:
    enum class End { Signalled, Closed, Exited };
    using Callback = std::function<void(End)>;

    // Takes the pipe's read end and a pidfd of the process (-1 when the
    // kernel has none; the pipe then tells the end of the process alone).
    CEngineReadyWait(pid_t pid, int readyFd, int processFd);
    ~CEngineReadyWait();
    CEngineReadyWait(const CEngineReadyWait&) = delete;
    CEngineReadyWait& operator=(const CEngineReadyWait&) = delete;

    // Watches on loop (its own thread); false when the loop refused the descriptors.
    bool Start(platform::EventLoop& loop, Callback onEnd);
    // Ends the wait on loop's next turn (a program without a readiness pipe).
    void FinishLater(platform::EventLoop& loop, Callback onEnd);
    // Blocks until the wait ends.
    End WaitBlocking();

    bool HasPipe() const { return readyFd_ >= 0; }
    pid_t Pid() const { return pid_; }
    bool Ended() const { return ended_; }

  private:
    // The process handler: a second watched descriptor needs its own handler.
    struct ProcessWatch final : platform::IFdHandler {
        CEngineReadyWait* owner = nullptr;
        void OnFdReady(uint32_t) override { owner->Finish(End::Exited); }
    };
    void OnFdReady(uint32_t events) override;
    // Reads what the pipe says: Signalled, Closed, or none yet.
    bool ReadPipe(End& end);
    void Finish(End end);
    void StopWatching();

    pid_t pid_;
    int readyFd_;
    int processFd_;
    platform::EventLoop* loop_ = nullptr;
    ProcessWatch processWatch_;
    Callback onEnd_;
    bool ended_ = false;
    // Tells a posted end whether the wait still exists.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};
