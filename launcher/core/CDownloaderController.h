#pragma once

// The main window's logic without a window: it asks the library for the file
// list, the total size and the skin, runs the download the user starts, turns
// every library event into what the view shows or asks, and starts the
// installer at the end. A view (the Qt window or the terminal) owns it, feeds
// it the posted messages one at a time on the user-interface thread, and
// forwards the user's commands.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "TarvoLib.h"
#include "launcher/core/DownloaderConfig.h"
#include "launcher/core/IDownloaderView.h"
#include "util/ReleaseMetadata.h"
#include "platform/MessageTarget.h"

namespace launcher {

class CDownloaderController {
  public:
    CDownloaderController(IDownloaderView& view, DownloaderConfig config);
    // Runs the shutdown when the view did not.
    ~CDownloaderController();
    CDownloaderController(const CDownloaderController&) = delete;
    CDownloaderController& operator=(const CDownloaderController&) = delete;

    // The window was created: start the library and ask for the file list.
    void OnInitialise();
    // A posted message: a library event, the refresh or the installer start.
    void HandleMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam);
    // A button (or the Escape key, as Close).
    void OnCommand(Control control);
    // The window system asks the window to close (window menu, Alt+F4).
    void OnCloseRequest();
    // The window is going away: stop the job, wait for the installer thread,
    // end the library. Runs once.
    void OnDestroy();

    // For views that need to know where the flow stands.
    bool HasJob() const { return job_ != 0; }
    JobHandle Job() const { return job_; }
    bool Finished() const { return finished_; }
    bool Installing() const { return installing_; }
    bool SkinApplied() const { return skinApplied_; }
    const DisplayStrings& Strings() const { return strings_; }
    const std::vector<std::string>& Urls() const { return urls_; }
    const std::string& InstallerPath() const { return installerPath_; }
    const std::string& DownloadMode() const { return config_.downloadMode; }
    // The accepted release metadata of the file list; nullptr for unsigned content.
    const ReleaseMetadata* Release() const { return release_.get(); }
    int64_t TotalSize() const { return totalSize_; }

  private:
    // The library posts to the view's queue through this.
    class ViewTarget final : public platform::MessageTarget {
      public:
        explicit ViewTarget(IDownloaderView& view) : view_(view) {}
        void Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) override {
            view_.PostToSelf(message, wParam, lParam);
        }

      private:
        IDownloaderView& view_;
    };

    MessageAnswer Box(std::string_view text, MessageButtons buttons = MessageButtons::kOk);
    void PostRefresh();
    void FailAndQuit(std::string_view text, bool stop);

    void OnLibraryEvent(int32_t code, JobHandle job);
    void OnData();
    void OnDataFailed();
    void OnFileList(std::string_view data);
    // A list arrived: with a publisher key, fetch its signed metadata first.
    void OnListBytes(std::vector<char> bytes);
    void OnListMetadata(std::string_view metadata);
    // Hands the job the digest of every signed file.
    void SetFileDigests();
    void OnSkin(const void* data, int64_t length);
    void OnSizeCheckComplete();
    void OnResumeQuestion();
    void OnProgress(JobHandle job);
    void OnFileCompleted(JobHandle job);
    void OnJobCompleted(JobHandle job);
    void OnJobMessage(JobHandle job);
    void HandleJobMessage(int32_t code);
    void RunDiskFull();

    void StartDownload();
    void StopDownload();
    void UpdateButtons();
    void OnStopButton();
    void OnHighSpeedBox();
    void OnFolderButton();
    void BeginInstall();
    void StartInstallThread();
    void CloseWithQuestion(bool checkInstalling);
    std::string CurrentFileText() const;

    IDownloaderView& view_;
    DownloaderConfig config_;
    ViewTarget target_;
    std::string enginePath_;
    std::string installerPath_;
    // The local paths of the current job's files: the only candidates for
    // the installer, whatever a completed-file record names.
    std::unordered_set<std::string> jobFiles_;

    JobHandle job_ = 0;
    bool initialised_ = false;
    bool destroyed_ = false;
    bool finished_ = false;
    bool installing_ = false;
    bool listParsed_ = false;
    bool skinApplied_ = false;
    bool progressSeen_ = false;
    bool diskPromptActive_ = false;
    int fileIndex_ = 0;
    int fileNumber_ = 1;
    std::vector<std::string> urls_;
    int64_t totalSize_ = 0;
    DisplayStrings strings_;
    std::unique_ptr<std::thread> installer_;
    // The list's bytes while its signed metadata is on the way.
    std::string signedList_;
    bool awaitingListMetadata_ = false;
    std::unique_ptr<ReleaseMetadata> release_;
};

}  // namespace launcher
