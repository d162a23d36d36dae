#pragma once

#include <string>

namespace tvxtest {

// A fresh directory below $TMPDIR (or /tmp), removed with everything in it when
// the object goes away. Path() ends in "/".
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "tvx-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// mkdir -p.
bool MakeDirs(const std::string& path);
// The whole content of a file ("" when missing).
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);

}  // namespace tvxtest
