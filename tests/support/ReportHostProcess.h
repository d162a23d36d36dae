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
    // port 0: any free one.
    ReportHostProcess(const std::string& program, const std::string& outPath, uint16_t port = 0);
    ~ReportHostProcess();
    ReportHostProcess(const ReportHostProcess&) = delete;
    ReportHostProcess& operator=(const ReportHostProcess&) = delete;

    bool Started() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    // The JSON lines written so far.
    std::vector<std::string> Lines() const { return LinesIn(outPath_); }
    // Waits (bounded) until at least count lines were written.
    bool WaitForLines(size_t count, int timeoutMs = 5000) const {
        return WaitForLinesIn(outPath_, count, timeoutMs);
    }
    // The same for an output file, also once its host has gone.
    static std::vector<std::string> LinesIn(const std::string& outPath);
    static bool WaitForLinesIn(const std::string& outPath, size_t count, int timeoutMs = 5000);

  private:
    std::string outPath_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace tvxtest
