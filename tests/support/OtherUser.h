#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace tvxtest {

// The second user of the tests that play an attacker on the same machine.
constexpr uint32_t kOtherUser = 65534;   // nobody
constexpr uint32_t kOtherGroup = 65534;  // nogroup

// A child process that drops to the other user and runs body, exiting with
// its result. Start it while the test process runs no threads of its own, or
// keep body to system calls (no allocation): only the forking thread lives on
// in the child. The child ends with the test process.
class OtherUserProcess {
  public:
    explicit OtherUserProcess(std::function<int()> body);
    // Kills and reaps a child that still runs.
    ~OtherUserProcess();
    OtherUserProcess(const OtherUserProcess&) = delete;
    OtherUserProcess& operator=(const OtherUserProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // The child's exit status once it ended (-1 when it was killed or never
    // ran); 125 means it could not become the other user.
    int Wait();

  private:
    pid_t pid_ = -1;
};

}  // namespace tvxtest
