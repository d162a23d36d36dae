#pragma once

// A scripted view for the main window controller: it records what the
// controller shows and asks, answers its boxes with a script, and queues the
// posted messages for the test to hand back one at a time, as a window's
// message loop would.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/core/CDownloaderController.h"
#include "launcher/core/DownloaderConfig.h"
#include "launcher/core/IDownloaderView.h"
#include "library/api/CDownloadLibThread.h"
#include "library/direct/CPlatFormDownloader.h"
#include "library/direct/CPlatformReporter.h"
#include "library/jobs/CJobManager.h"
#include "platform/MessageTarget.h"

namespace tvxtest {

struct ShownBox {
    std::string caption;
    std::string text;
    launcher::MessageButtons buttons;
};

class ScriptedView final : public launcher::IDownloaderView,
                           private launcher::IMessageBox,
                           private launcher::IFolderBrowser {
  public:
    using Answerer =
        std::function<launcher::MessageAnswer(const std::string& text, launcher::MessageButtons)>;

    // OK, No and Cancel unless the test scripts otherwise.
    Answerer answer;
    std::vector<ShownBox> boxes;
    std::map<launcher::Control, bool> enabled;
    std::map<launcher::Control, bool> shown;
    std::map<launcher::Control, bool> checked;
    std::vector<launcher::UnpackedSkin> skins;
    launcher::DisplayStrings strings;
    int refreshes = 0;
    int progress = -1;
    launcher::ResumeAnswer resumeAnswer;
    int resumeDialogs = 0;
    int waitDialogs = 0;
    std::atomic<bool> quit{false};
    bool closed = false;
    std::string title;
    launcher::CDownloaderController* controller = nullptr;

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const ShownBox& box : boxes)
            texts.push_back(box.text);
        return texts;
    }

    // Hands the queued messages to the controller until done() holds, at
    // most for timeout; false on time-out.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            platform::PostedMessage m;
            if (queue_.Take(m, 50))
                controller->HandleMessage(m.message, m.wParam, m.lParam);
        }
        return true;
    }

    // Hands the messages queued now, and those they post, to the controller.
    void PumpPending() {
        platform::PostedMessage m;
        while (queue_.TryTake(m))
            controller->HandleMessage(m.message, m.wParam, m.lParam);
    }

    launcher::IMessageBox& MessageBox() override { return *this; }
    launcher::IFolderBrowser& FolderBrowser() override { return *this; }
    void SetTitle(std::string_view t) override { title = t; }
    void EnableControl(launcher::Control c, bool on) override { enabled[c] = on; }
    void ShowControl(launcher::Control c, bool on) override { shown[c] = on; }
    void SetChecked(launcher::Control c, bool on) override { checked[c] = on; }
    bool IsChecked(launcher::Control c) const override {
        const auto it = checked.find(c);
        return it != checked.end() && it->second;
    }
    void SetHint(launcher::Control, std::string_view) override {}
    void SetProgress(int percent) override { progress = percent; }
    void PlaceNoticeForInstall() override {}
    void Refresh(const launcher::DisplayStrings& s) override {
        strings = s;
        ++refreshes;
    }
    void ApplySkin(const launcher::UnpackedSkin& skin) override { skins.push_back(skin); }
    launcher::ResumeAnswer RunResumeDialog() override {
        ++resumeDialogs;
        return resumeAnswer;
    }
    void RunWaitDialog() override {
        ++waitDialogs;
        PumpUntil([this] { return quit.load(); });
    }
    void PostToSelf(uint32_t message, uintptr_t wParam, uintptr_t lParam) override {
        queue_.Post(message, wParam, lParam);
    }
    void PostQuit() override { quit = true; }
    void CloseWindow() override { closed = true; }

  private:
    launcher::MessageAnswer Show(std::string_view caption, std::string_view text,
                                 launcher::MessageButtons buttons) override {
        boxes.push_back({std::string(caption), std::string(text), buttons});
        if (answer)
            return answer(std::string(text), buttons);
        switch (buttons) {
            case launcher::MessageButtons::kYesNo:
                return launcher::MessageAnswer::kNo;
            case launcher::MessageButtons::kRetryCancel:
                return launcher::MessageAnswer::kCancel;
            default:
                return launcher::MessageAnswer::kOk;
        }
    }
    std::optional<std::string> Browse(const std::string&, int64_t) override { return browsed; }

  public:
    std::optional<std::string> browsed;

  private:
    platform::QueueMessageTarget queue_;
};

// The game's built-in values with the test's own file list, skin, temporary
// folder and publisher key (empty: unsigned content, as without a key built
// in); the accepted release versions are kept in that folder.
inline launcher::DownloaderConfig GameConfig(std::string fileListUrl, std::string skinUrl,
                                             const std::string& folder, std::string key) {
    launcher::DownloaderConfig config;
    config.fileListUrl = std::move(fileListUrl);
    config.skinUrl = std::move(skinUrl);
    config.gameId = "halvard2";
    config.gameTitle = "Halvard2";
    config.folderName = "halvard2";
    config.tempFolder = folder;
    config.publisherKey = std::move(key);
    config.releaseVersionPath = folder + "ReleaseVersion.ini";
    return config;
}

// The direct path's reports go nowhere rather than to a report host that
// someone else runs.
inline void MuteReports() {
    CDownloadLibThread* thread = CDownloadLibThread::Instance();
    if (!thread)
        return;
    std::lock_guard guard(thread->Manager()->Lock());
    if (auto* direct = dynamic_cast<CPlatFormDownloader*>(thread->Manager()->DirectDownloader()))
        direct->Reporter().SetPort(1);
}

}  // namespace tvxtest
