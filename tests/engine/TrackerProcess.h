#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace enginetest {

// opentracker on 127.0.0.1 at a fixed port: only inside a network namespace
// of the test's own, where no other test can hold the port. Debian's
// opentracker serves only the torrents of its whitelist: WhitelistPath() is
// the file to append their info hashes to before Start().
class TrackerProcess {
  public:
    explicit TrackerProcess(uint16_t port = 6969);
    bool Start();
    std::string WhitelistPath() const { return dir_ + "whitelist"; }
    ~TrackerProcess();
    TrackerProcess(const TrackerProcess&) = delete;
    TrackerProcess& operator=(const TrackerProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    std::string AnnounceUrl() const;

  private:
    std::string dir_;
    uint16_t port_;
    pid_t pid_ = -1;
};

}  // namespace enginetest
