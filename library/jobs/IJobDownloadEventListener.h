#pragma once

#include <cstdint>

class CJob;

// What the job downloaders tell their owner (the job manager).
class IJobDownloadEventListener {
  public:
    virtual void OnUpdateFileBegin(const char* name, int64_t size) = 0;
    virtual void OnUpdateFileProgress(int64_t bytes) = 0;
    virtual void OnEngineReady() = 0;
    virtual void OnEngineFailed() = 0;
    // The engine path is gone: every running job continues on the direct path.
    virtual void OnEngineLost() = 0;
    virtual void OnJobFallback(CJob* job) = 0;
    // kind 1: the engine folder is unusable; kind 2: a download folder could not be made.
    virtual void OnPathAccessFailed(int32_t kind) = 0;
    virtual void OnEngineState(int32_t value) = 0;

  protected:
    ~IJobDownloadEventListener() = default;
};
