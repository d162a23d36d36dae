#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tvxtest {

// A program under test as a child process: its stdout and stderr are captured,
// it runs in a process group of its own (so that whatever it starts goes with
// it), and it is killed and reaped when the object goes away.
class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }

    // Reads until stdout holds text, the program ends or the time is up.
    bool WaitForOutput(std::string_view text, std::chrono::milliseconds timeout);
    void Signal(int signal) const;

    // Waits for the end, reading all output; kills the group when the time is
    // up. False when it had to be killed.
    bool Wait(std::chrono::milliseconds timeout);

    // Valid after Wait: the exit code, or -1 when ended by a signal.
    int ExitCode() const { return exitCode_; }
    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

  private:
    // One poll of both pipes, at most until deadline.
    void ReadSome(std::chrono::steady_clock::time_point deadline);
    bool Reap(bool block);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int exitCode_ = -1;
    std::string out_;
    std::string err_;
};

// A loopback TCP port that was free a moment ago.
uint16_t FreeLoopbackPort();

}  // namespace tvxtest
