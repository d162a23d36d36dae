#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace engine::app {

// The engine's own log, one line per event: "[" + local time + "] " + text,
// appended to vrDownload.log in the engine folder.
class EngineLog {
  public:
    // Opens (creating the folder) the log below folder; without a usable
    // folder the lines go nowhere.
    explicit EngineLog(const std::string& folder);
    ~EngineLog();
    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;

    void Write(std::string_view text);
    // While set, every line also goes to standard error: until the engine is
    // ready, its starter reads from there why it could not start.
    void SetEchoToStandardError(bool echo) { echo_ = echo; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool echo_ = false;
};

// <application data>/Brenholt/vrDownloader/, else the executable's folder.
std::string EngineFolder();

}  // namespace engine::app
