#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TarvoLib.h"
#include "platform/MessageTarget.h"

struct DemoHostOptions {
    std::string listUrl;
    // The download folder, ending in "/".
    std::string dest;
    // The job mode handed to TarvoLib_StartJob2: 1 for the high-speed
    // download, 0 for the normal one.
    uint8_t mode = 1;
    // Only errors and the final summary.
    bool quiet = false;
};

// Exit codes of the demo host.
namespace demo_exit {
constexpr int kComplete = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// 128 + the signal number is added for a stop by signal.
constexpr int kSignalBase = 128;
}  // namespace demo_exit

// Drives one download of a file list through the library the way the launcher
// window does: the library posts its events to a queue, and the thread that
// calls Run takes them one at a time and reacts, as a window's message loop
// would. Every entry function is called on that thread.
class DemoHost {
  public:
    DemoHost(DemoHostOptions options, std::FILE* out, std::FILE* err);
    ~DemoHost();
    DemoHost(const DemoHost&) = delete;
    DemoHost& operator=(const DemoHost&) = delete;

    // Runs the whole flow and returns the exit code (demo_exit).
    int Run();

    // Thread-safe: asks Run to stop the job and end with 128 + signal.
    void RequestStop(int signal);

  private:
    // Posted by RequestStop into the same queue as the library's events, so
    // the stop is handled on the host's thread between two events.
    static constexpr uint32_t kStopMessage = 0x2B12;

    bool Start();
    void OnEvent(int32_t code, uintptr_t handle);
    void OnFileList();
    void OnTotalSize();
    void OnJobSize();
    void OnProgress();
    void OnFileCompleted();
    void OnJobCompleted();
    void OnJobMessage();

    bool StartJob(int64_t total);
    void StopJob();
    void Finish(int exitCode);
    void Fail(const std::string& text);

    void Info(const std::string& text);
    void EndProgressLine();

    DemoHostOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    bool outIsTerminal_ = false;
    platform::QueueMessageTarget queue_;
    bool initialised_ = false;
    bool listParsed_ = false;
    bool diskChecked_ = false;
    bool progressLineOpen_ = false;
    bool done_ = false;
    int exitCode_ = demo_exit::kFailed;
    JobHandle job_ = 0;
    std::vector<std::string> urls_;
    int64_t total_ = 0;
    int64_t received_ = 0;
    int completedFiles_ = 0;
    int64_t startedAt_ = 0;
};
