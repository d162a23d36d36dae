#pragma once

// The start-up probe program (a launcher with a placeholder window) as a
// child process: its standard input held open as its lifeline, its output
// read line by line with a time limit.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tvxtest {

class ProbeProcess {
  public:
    // Starts the probe for the file-list URL; extraEnv holds "NAME=value".
    explicit ProbeProcess(const std::string& url, const std::vector<std::string>& extraEnv = {});
    ~ProbeProcess();
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // The next output line, or "" once timeoutMs passed or the output ended.
    std::string NextLine(int timeoutMs = 10000);
    // Every line until the output ends (the probe exited), bounded in time.
    std::vector<std::string> RemainingLines(int timeoutMs = 10000);
    // Waits (bounded) for the exit; its status, or -1 when still running or
    // killed by a signal.
    int WaitForExit(int timeoutMs = 10000);
    // Closes its standard input: the probe ends its window.
    void CloseInput();
    void Kill(int signal);

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffered_;
    bool ended_ = false;
    int status_ = -1;
    bool reaped_ = false;
};

}  // namespace tvxtest
