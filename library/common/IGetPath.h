#pragma once

#include <string>

// Where the publisher's per-user programs live. Every call builds the path
// anew, so a changed application-data folder is seen at once.
class IGetPath {
  public:
    virtual ~IGetPath() = default;
    virtual void GetBaseFolder(std::string& out) const = 0;
    virtual void GetEngineFolder(std::string& out) const = 0;
    virtual void GetEnginePath(std::string& out) const = 0;
};
