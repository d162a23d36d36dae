#pragma once

#include <functional>
#include <memory>
#include <string>

#include "library/actions/CBinaryExecBase.h"
#include "platform/EventLoop.h"
#include "platform/ProcessStart.h"

// Starts the local engine program from the publisher's engine folder. This
// system does not elevate, so the program is always opened: an ELF program or
// a "#!" script gets its owner's execute bit (unpacked files may lack it) and
// is started with a readiness pipe (TVX_READY_FD), its standard error going
// to kErrorFileName in the engine folder; anything else is handed to the
// desktop's opener and counts as ready once started. Every start is logged;
// a start that fails, at once or by an end before the engine was ready, is
// logged in one line with its reason.
class CBinaryExecute_V3 final : public CBinaryExecBase {
  public:
    static constexpr const char* kErrorFileName = "vrDownload.err";
    using Callback = std::function<void(const platform::StartOutcome&)>;

    static CBinaryExecute_V3& Instance();

    int GetPath(std::string& out) const override;
    void CopyPath(std::string& out, const std::string& in) const override;

    // Starts the engine, then waits, blocking the caller, until it is ready
    // or its start failed. 1 ready, 0 not; outcome (when given) says why.
    int RunEngine(platform::StartOutcome* outcome = nullptr);

    // Starts the engine; 1 started, 0 not (failure then says why). When
    // started, onEnd runs on loop (which must be the calling thread's) once
    // the engine is ready or its start failed, unless the start handed out in
    // wait is destroyed first.
    int RunEngine(platform::EventLoop& loop, Callback onEnd,
                  std::unique_ptr<platform::ProcessStart>& wait, platform::StartOutcome& failure);

  private:
    int Start(std::unique_ptr<platform::ProcessStart>& wait, platform::StartOutcome& failure);
};
