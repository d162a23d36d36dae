#pragma once

#include <cstdint>
#include <string>

// What the engine launcher tells the engine downloader.
class ILauncherEventListener {
  public:
    virtual void OnLauncherFileBegin(const std::string& name, int64_t size) = 0;
    virtual void OnLauncherProgress(const std::string& name, int64_t bytes) = 0;
    // The engine is worth connecting to (it runs, or the update was in order).
    virtual void OnLauncherReady() = 0;
    virtual void OnLauncherFailed() = 0;
    virtual void OnLauncherOffline() = 0;
    virtual void OnLauncherPathFailed(int32_t kind) = 0;

  protected:
    ~ILauncherEventListener() = default;
};
