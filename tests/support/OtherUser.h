#pragma once

#include <functional>
#include <string>

namespace tvxtest {

// Runs body in a child process that has given up the test's user for the
// user "nobody" (setgid, setgroups, setuid; the tests run as root), as
// another user on the same machine would. True when the child could become
// nobody and body returned true. body runs after fork: it should do only
// plain system calls.
bool RunAsNobody(const std::function<bool()>& body);

// A process of nobody's that runs setup and then stays alive until the
// object goes away (for holding a lock or an open file while the test acts).
class NobodyProcess {
  public:
    explicit NobodyProcess(const std::function<bool()>& setup);
    ~NobodyProcess();
    NobodyProcess(const NobodyProcess&) = delete;
    NobodyProcess& operator=(const NobodyProcess&) = delete;

    // True once setup ran and returned true as nobody.
    bool Ready() const { return ready_; }

  private:
    int pid_ = -1;
    int release_ = -1;  // closing it lets the child end
    bool ready_ = false;
};

// A folder every user may write into, sticky like /tmp (mode 1777), made
// directly below /tmp so that nobody can reach it; removed with everything in
// it when the object goes away. Path() ends in "/".
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
