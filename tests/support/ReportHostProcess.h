#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tvxtest {

// The real report host program (tvx-report-host) running on a free loopback
// port, writing what it receives as JSON lines into a file; killed and waited
// for when the object goes.
class ReportHostProcess {
  public:
    ReportHostProcess(const std::string& program, const std::string& outPath);
    ~ReportHostProcess();
    ReportHostProcess(const ReportHostProcess&) = delete;
    ReportHostProcess& operator=(const ReportHostProcess&) = delete;

    bool Started() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    // The JSON lines written so far.
    std::vector<std::string> Lines() const;
    // Waits (bounded) until at least count lines were written.
    bool WaitForLines(size_t count, int timeoutMs = 5000) const;

  private:
    std::string outPath_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace tvxtest
