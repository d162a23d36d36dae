#pragma once

#include <cstdint>
#include <string>

// How the engine's start after an update went.
enum class EngineStart : int32_t {
    // Not started, or it ended before it was ready: it may run another time
    // (or another engine of the user's already serves).
    NotStarted = 0,
    Ready = 1,
    // It cannot start on this system (it cannot be executed, or a library it
    // needs is missing): starting it again would fail the same way.
    CannotStart = 2,
};

// What the engine updater tells its owner (the engine launcher).
class IDownloaderEventListener {
  public:
    // The update server's host could not be reached: the updater now retries
    // every second without a limit on attempts.
    virtual void OnUpdaterOffline() = 0;
    virtual void OnUpdaterFileBegin(const std::string& name, int64_t size) = 0;
    virtual void OnUpdaterProgress(const std::string& name, int64_t bytes) = 0;
    // The update is over: started tells how the engine's start went, updateOk
    // whether every download and unpacking went right.
    virtual void OnPatchResult(EngineStart started, int32_t updateOk,
                               const std::string& version) = 0;
    // kind 1: the engine folder cannot be used.
    virtual void OnUpdaterPathFailed(int32_t kind) = 0;

  protected:
    ~IDownloaderEventListener() = default;
};
