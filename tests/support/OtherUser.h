#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// Runs body as the other user in a child process and waits for it: true
// when the child became the other user and body returned true.
bool RunAsNobody(const std::function<bool()>& body);

// A process of the other user that runs setup and then stays alive until the
// object goes away (for holding a lock or an open file while the test acts).
class NobodyProcess {
  public:
    explicit NobodyProcess(const std::function<bool()>& setup);
    ~NobodyProcess();
    NobodyProcess(const NobodyProcess&) = delete;
    NobodyProcess& operator=(const NobodyProcess&) = delete;

    // True once setup ran and returned true as the other user.
    bool Ready() const { return ready_; }

  private:
    int release_ = -1;  // closing it lets the child end
    bool ready_ = false;
    std::unique_ptr<OtherUserProcess> process_;
};

// A folder every user may write into, sticky like /tmp (mode 1777), made
// directly below /tmp so that the other user can reach it; removed with
// everything in it when the object goes away. Path() ends in "/".
class SharedTempDir {
  public:
    SharedTempDir();
    ~SharedTempDir();
    SharedTempDir(const SharedTempDir&) = delete;
    SharedTempDir& operator=(const SharedTempDir&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace tvxtest
