#pragma once

// The launcher's start-up: registers the organisation, makes sure no other
// launcher for the same file list runs, and runs the main window.

#include <string>

#include "launcher/app/IMainWindow.h"
#include "launcher/core/IMessageBox.h"

namespace launcher {

inline constexpr char kOrganisationName[] = "Velmora Inc.";
inline constexpr char kAlreadyRunningText[] = "이미 다운로드가 진행 중 입니다.";

struct StartupSettings {
    std::string fileListUrl;    // names the single instance
    std::string gameTitle;      // application display name and caption
    std::string runtimeFolder;  // lock file and socket; the user's runtime folder when empty
};

class CTVXDownloaderApp {
  public:
    // The built-in file-list URL and game title.
    static StartupSettings BuiltinSettings();

    CTVXDownloaderApp(StartupSettings settings, IMessageBox& box, MainWindowFactory makeWindow);

    // Needs the QApplication. Returns the process's exit status: the main
    // window's, or 0 when another launcher runs (after the message and the
    // request that it activate its window).
    int Run();

  private:
    StartupSettings settings_;
    IMessageBox& box_;
    MainWindowFactory makeWindow_;
};

}  // namespace launcher
