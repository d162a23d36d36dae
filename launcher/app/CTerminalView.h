#pragma once

// The main window as lines on a terminal, for a machine without a display:
// the same controller, its display strings printed as one status line per
// refresh (at most once a second), its message boxes asked on standard input,
// and the buttons as typed commands. It needs no terminal: a pipe scripts it.
// One thread waits on both standard input and the posted messages, never
// polling; a box waits the same way and keeps handling posted messages, as a
// window's modal loop would.

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "launcher/app/CPostedQueue.h"
#include "launcher/app/IMainWindow.h"
#include "launcher/core/CDownloaderController.h"
#include "launcher/core/IDownloaderView.h"
#include "platform/Clock.h"

namespace launcher {

class CTerminalView final : public IDownloaderView,
                            public IMainWindow,
                            private IMessageBox,
                            private IFolderBrowser {
  public:
    // Reads commands and answers from inputFd, writes to out.
    CTerminalView(DownloaderConfig config, int inputFd, std::FILE* out);
    ~CTerminalView() override;

    // Runs the whole flow until the window closes or the quit request.
    int Run() override;
    void Activate() override;

    IMessageBox& MessageBox() override { return *this; }
    IFolderBrowser& FolderBrowser() override { return *this; }
    void SetTitle(std::string_view title) override;
    void EnableControl(Control control, bool enabled) override;
    void ShowControl(Control, bool) override {}
    void SetChecked(Control control, bool checked) override;
    bool IsChecked(Control control) const override;
    void SetHint(Control, std::string_view) override {}
    void SetProgress(int) override {}
    void PlaceNoticeForInstall() override {}
    void Refresh(const DisplayStrings& strings) override;
    void ApplySkin(const UnpackedSkin& skin) override;
    ResumeAnswer RunResumeDialog() override;
    void RunWaitDialog() override;
    void PostToSelf(uint32_t message, uintptr_t wParam, uintptr_t lParam) override;
    void PostQuit() override;
    void CloseWindow() override;

    // The status line is printed at most once a second, on the clock of
    // platform::Clock(). A newer state that had to wait is due when the second
    // is up: the view's loop waits at most MsUntilStatusDue() (-1: nothing is
    // due) and then calls PrintDueStatus().
    int MsUntilStatusDue() const;
    void PrintDueStatus();

  private:
    MessageAnswer Show(std::string_view caption, std::string_view text,
                       MessageButtons buttons) override;
    std::optional<std::string> Browse(const std::string& initialFolder, int64_t totalSize) override;

    enum class Input { kLine, kEnd };
    // The next input line; while it is awaited on the user-interface thread,
    // posted messages are handled.
    Input WaitForLine(std::string& line);
    // Reads what standard input holds now; false at its end.
    bool ReadInput();
    bool TakeLine(std::string& line);
    void HandlePosted();
    void HandleCommand(const std::string& line);
    void CloseWhenNothingCanHappen();
    void Print(std::string_view text);
    static std::string StatusLine(const DisplayStrings& strings);
    int64_t MsUntilNextStatus() const;
    void PrintStatus(std::string line);
    // Before a question: the controller's newest state, whatever the second.
    void PrintNewestStatus();
    bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }

    int inputFd_;
    std::FILE* out_;
    CPostedQueue queue_;
    std::unique_ptr<CDownloaderController> controller_;
    std::thread::id uiThread_;

    // Input is read by the user-interface thread, or by the installer
    // thread's box while the other waits in the wait dialog.
    std::mutex inputMutex_;
    std::string pending_;
    bool inputEnded_ = false;

    std::mutex outMutex_;
    bool quit_ = false;
    bool closed_ = false;
    bool skinShown_ = false;
    bool everPrinted_ = false;
    platform::WallTime lastStatus_;
    std::string lastLine_;
    std::string dueLine_;  // the newest status line, waiting for its second
    std::string lastFolder_;
    std::string lastNotice_;
    std::map<Control, bool> enabled_;
    std::map<Control, bool> checked_;
    std::optional<std::string> typedFolder_;
    std::string title_;
};

}  // namespace launcher
