#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/EventLoop.h"

namespace platform {

// How the start of a program ended.
struct StartOutcome {
    enum class State { Ready, Failed };
    State state = State::Failed;
    // The program can never start this way: it cannot be executed (its
    // format, its interpreter or its mode) or a library it needs is missing.
    // Starting the same file again fails the same way; a crash does not count.
    bool lasting = false;
    // Why it failed, in one line for the log: the system's error, or the exit
    // status or signal followed by the last line the program wrote to its
    // standard error (where the dynamic loader names a missing library).
    std::string reason;
    // The system's error number when the start itself was refused, else 0.
    int systemError = 0;

    static StartOutcome Ready() { return {State::Ready, false, {}, 0}; }
    bool IsReady() const { return state == State::Ready; }
};

// Whether the file is one the system runs itself: an executable image of
// the system's own format, or a script with a "#!" line.
bool IsProgramFile(const std::string& path);
// Gives the file its owner's execute bit where it lacks it (unpacked files
// may); false when it lacks the bit and cannot get it.
bool MakeOwnerExecutable(const std::string& path);

// A started program, until it is ready. A program started with a readiness
// pipe inherits its write end (the number in the environment variable
// TVX_READY_FD) and writes a byte or closes it once it serves: it is then
// ready. Ending before that with success also counts as ready (a program
// that hands its work to a child of its own); ending otherwise is a failed
// start. A program opened with the desktop's opener is ready once started.
//
// The started program runs on after the starter and after this object; its
// exit status is collected so that it leaves no zombie behind.
class ProcessStart {
  public:
    using Callback = std::function<void(const StartOutcome&)>;

    virtual ~ProcessStart() = default;

    // Waits on loop (the calling thread's) without blocking it: onEnd runs
    // there once, and never after this object was destroyed.
    virtual void Watch(EventLoop& loop, Callback onEnd) = 0;
    // Blocks the caller until the start ended.
    virtual StartOutcome WaitBlocking() = 0;
};

// Starts path as a program with a readiness pipe, with default signal
// handling, standard input and output from and to /dev/null (it outlives its
// starter and must hold none of its streams) and standard error into
// errorFile (made anew; /dev/null when empty). Null, with the failure in
// failure, when it could not be started at all.
std::unique_ptr<ProcessStart> StartProgram(const std::string& path, const std::string& errorFile,
                                           StartOutcome& failure);

// Hands path to the desktop's opener (xdg-open, found in PATH).
std::unique_ptr<ProcessStart> OpenWithDesktop(const std::string& path, StartOutcome& failure);

}  // namespace platform
