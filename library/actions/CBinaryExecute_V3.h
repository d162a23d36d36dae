#pragma once

#include <functional>
#include <memory>
#include <string>

#include "library/actions/CBinaryExecBase.h"
#include "library/actions/CEngineReadyWait.h"
#include "platform/EventLoop.h"

// Starts the local engine program from the publisher's engine folder. This
// system does not elevate, so the program is always opened: an ELF program or
// a "#!" script gets its owner's execute bit (unpacked files may lack it) and
// is started with posix_spawn, holding the write end of the readiness pipe
// (TVX_READY_FD); anything else is handed to xdg-open and counts as ready once
// started. Every start and failure is logged with the path and the error.
class CBinaryExecute_V3 final : public CBinaryExecBase {
  public:
    static CBinaryExecute_V3& Instance();

    int GetPath(std::string& out) const override;
    void CopyPath(std::string& out, const std::string& in) const override;

    // Starts the engine, then waits, blocking the caller, until it is ready
    // (or its process ended). 1 started, 0 not started.
    int RunEngine();

    // Starts the engine; 1 started, 0 not. When started, onReady runs on loop
    // (which must be the calling thread's) once the engine is ready or its
    // process ended, unless the wait handed out in wait is destroyed first.
    int RunEngine(platform::EventLoop& loop, std::function<void()> onReady,
                  std::unique_ptr<CEngineReadyWait>& wait);

  private:
    // Starts the program; the wait (none for a program opened with xdg-open)
    // is returned in wait.
    int Start(std::unique_ptr<CEngineReadyWait>& wait);
};
