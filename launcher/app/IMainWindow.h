#pragma once

// What start-up needs of the main window, whichever view it is (the Qt window
// or the terminal view).

#include <functional>
#include <memory>

namespace launcher {

class IMainWindow {
  public:
    virtual ~IMainWindow() = default;
    // Shows the window and runs it until it ends; the process's exit status.
    virtual int Run() = 0;
    // Another launcher for the same file list was started: bring this window
    // to the front, restoring it when minimised. Called on the user-interface
    // thread while Run() runs.
    virtual void Activate() = 0;
};

// Makes the main window once start-up has found no other launcher.
using MainWindowFactory = std::function<std::unique_ptr<IMainWindow>()>;

}  // namespace launcher
