#pragma once

#include <string>

// A program the library starts: where it is, and how its path is handed on.
class CBinaryExecBase {
  public:
    virtual ~CBinaryExecBase() = default;
    // 1 with the program's path when the program exists, else 0.
    virtual int GetPath(std::string& out) const = 0;
    virtual void CopyPath(std::string& out, const std::string& in) const = 0;
};
