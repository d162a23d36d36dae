#pragma once

// What the main window controller needs of a window: the controller holds every
// decision of the download flow and no Qt; a view only shows, asks and posts.
// Two views exist: the skinned Qt window and the terminal view. Every call runs
// on the user-interface thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/FolderChooser.h"
#include "launcher/core/IMessageBox.h"

namespace launcher {

// Messages a view delivers to the controller's HandleMessage, one at a time:
// the library's events and the controller's own posts.
inline constexpr uint32_t kLibraryMessage = 0x2B10;  // wParam = event code, lParam = job
inline constexpr uint32_t kRefreshDisplayMessage = 0x2B11;
inline constexpr uint32_t kStartInstallMessage = 0x401;

// The window's controls by their command or control ids.
enum class Control : int {
    CurrentFile = 1002,
    RemainingTime = 1003,
    Total = 1005,
    Folder = 1007,
    FolderButton = 1008,
    HighSpeed = 1010,
    Start = 1011,
    Close = 1012,
    Received = 1015,
    Progress = 1016,
    Run = 1017,
    Stop = 1018,
    Speed = 1019,
    ElapsedTime = 1020,
    Percent = 1021,
    Notice = 1022,
    Agreement = 1025,
};

// The nine display strings, copied into their labels all at once on refresh.
struct DisplayStrings {
    std::string currentFile;
    std::string received;
    std::string total;
    std::string remainingTime;
    std::string elapsedTime;
    std::string speed;
    std::string folder;
    std::string percent;
    std::string notice;
};

struct ResumeAnswer {
    int resume = 1;
    int applyToAll = 1;
};

// A skin package unpacked into its folder: the folder (ending in "/") and the
// entry names in package order.
struct UnpackedSkin {
    std::string folder;
    std::vector<std::string> entries;
};

class IDownloaderView {
  public:
    virtual ~IDownloaderView() = default;

    // The view's modal message boxes (the controller passes the game title as
    // caption) and its folder browser.
    virtual IMessageBox& MessageBox() = 0;
    virtual IFolderBrowser& FolderBrowser() = 0;
    virtual void SetTitle(std::string_view title) = 0;
    virtual void EnableControl(Control control, bool enabled) = 0;
    virtual void ShowControl(Control control, bool shown) = 0;
    virtual void SetChecked(Control control, bool checked) = 0;
    virtual bool IsChecked(Control control) const = 0;
    // The tooltip of a control (the high-speed box's hint).
    virtual void SetHint(Control control, std::string_view text) = 0;
    virtual void SetProgress(int percent) = 0;
    // Moves the notice label to where the installer step shows it.
    virtual void PlaceNoticeForInstall() = 0;
    // Copies the strings into their labels and repaints them.
    virtual void Refresh(const DisplayStrings& strings) = 0;
    // Pictures, layout and visibility of an unpacked skin; the view becomes
    // visible. Elements whose pictures are missing stay plain.
    virtual void ApplySkin(const UnpackedSkin& skin) = 0;
    virtual ResumeAnswer RunResumeDialog() = 0;
    // Runs the wait dialog until the quit request ends it.
    virtual void RunWaitDialog() = 0;
    // Queues a message for the controller's HandleMessage; thread-safe.
    virtual void PostToSelf(uint32_t message, uintptr_t wParam, uintptr_t lParam) = 0;
    // Ends the application once the current handler has returned; thread-safe.
    virtual void PostQuit() = 0;
    // Closes the window (the controller's shutdown follows).
    virtual void CloseWindow() = 0;
};

}  // namespace launcher
