#pragma once

#include <cstdint>
#include <string>

// What the engine updater tells its owner (the engine launcher).
class IDownloaderEventListener {
  public:
    // The update server's host could not be reached: the updater now retries
    // every second without a limit on attempts.
    virtual void OnUpdaterOffline() = 0;
    virtual void OnUpdaterFileBegin(const std::string& name, int64_t size) = 0;
    virtual void OnUpdaterProgress(const std::string& name, int64_t bytes) = 0;
    // The update is over: started tells whether the engine runs, updateOk
    // whether every download and unpacking went right.
    virtual void OnPatchResult(int32_t started, int32_t updateOk, const std::string& version) = 0;
    // kind 1: the engine folder cannot be used.
    virtual void OnUpdaterPathFailed(int32_t kind) = 0;

  protected:
    ~IDownloaderEventListener() = default;
};
