#pragma once

#include <string>
#include <string_view>

namespace engine::jobs {

class EngineJob;

// What a job needs from the engine around it.
class IJobHost {
  public:
    // One frame to the client that gave the job.
    virtual void SendToClient(EngineJob& job, std::string frame) = 0;
    // The job is over (finished, failed or stopped); the host destroys it
    // later, never inside this call.
    virtual void OnJobEnded(EngineJob& job) = 0;
    virtual void Log(std::string_view line) = 0;

  protected:
    ~IJobHost() = default;
};

}  // namespace engine::jobs
