#pragma once

// The launcher's main window: a frameless, skinned 640x380 window that shows
// what the download controller decides. It owns the controller, feeds it the
// posted messages (the library's events and its own posts) one at a time on
// the user-interface thread, and forwards the buttons, the Escape key and the
// close request. It stays invisible, 0x0 at the screen origin, until the skin
// package has been applied.

#include <QEventLoop>
#include <QFont>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "launcher/app/CQtMessageBox.h"
#include "launcher/app/IMainWindow.h"
#include "launcher/core/CDownloaderController.h"
#include "launcher/core/DownloaderConfig.h"
#include "launcher/core/IDownloaderView.h"
#include "launcher/dialogs/CFolderChooser.h"
#include "launcher/window/CAgreementPanel.h"
#include "launcher/window/CSkinImageMap.h"
#include "platform/MessageTarget.h"

class QLabel;

namespace launcher {

class CNowLoading;
class CSkinButton;
class CSkinProgress;
class CSkinToolTip;
class CTransparentStatic;

class CTVXDownloaderDlg final : public QWidget,
                                public IDownloaderView,
                                public IMainWindow,
                                public platform::MessageTarget {
    Q_OBJECT

  public:
    static constexpr QSize kWindowSize{640, 380};
    static constexpr QRgb kSurfaceColor = 0xFFC3C3C3;

    // boxes and browser replace the Qt message boxes and folder dialog when
    // given (tests script them); they must outlive the window.
    explicit CTVXDownloaderDlg(DownloaderConfig config, IMessageBox* boxes = nullptr,
                               IFolderBrowser* browser = nullptr);
    ~CTVXDownloaderDlg() override;
    CTVXDownloaderDlg(const CTVXDownloaderDlg&) = delete;
    CTVXDownloaderDlg& operator=(const CTVXDownloaderDlg&) = delete;

    // The window's initialisation: the controller starts the library and
    // asks for the file list. Run does it first; later calls do nothing.
    void Initialise();
    // Initialises and runs the window until it closes or the quit request
    // arrives; then the controller shuts the download down.
    int Run() override;
    void Activate() override;
    // The window has closed or the quit request has been handled.
    bool Ended() const { return ended_; }

    // The library's events land here, from any thread.
    void Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) override;

    IMessageBox& MessageBox() override;
    IFolderBrowser& FolderBrowser() override;
    void SetTitle(std::string_view title) override;
    void EnableControl(Control control, bool enabled) override;
    void ShowControl(Control control, bool shown) override;
    void SetChecked(Control control, bool checked) override;
    bool IsChecked(Control control) const override;
    void SetHint(Control control, std::string_view text) override;
    void SetProgress(int percent) override;
    void PlaceNoticeForInstall() override;
    void Refresh(const DisplayStrings& strings) override;
    void ApplySkin(const UnpackedSkin& skin) override;
    ResumeAnswer RunResumeDialog() override;
    void RunWaitDialog() override;
    void PostToSelf(uint32_t message, uintptr_t wParam, uintptr_t lParam) override;
    void PostQuit() override;
    void CloseWindow() override;

    // The parts, for whoever needs to look at them.
    CDownloaderController& Controller() { return *controller_; }
    QWidget* Part(Control control) const;
    CTransparentStatic* Label(Control control) const;
    CSkinButton* Button(Control control) const;
    CSkinProgress& Progress() const { return *progress_; }
    CAgreementPanel& Agreement() { return agreement_; }
    const CSkinImageMap& Images() const { return images_; }
    QLabel& Background() const { return *background_; }
    CSkinToolTip& ToolTip() const { return *toolTip_; }
    const QFont& LabelFont() const { return labelFont_; }
    const QFont& NoticeFont() const { return noticeFont_; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Boxes over the window once it shows, centred on the screen before: a
    // box over an invisible 0x0 window would sit in the screen's corner.
    class WindowBoxes final : public IMessageBox {
      public:
        explicit WindowBoxes(CTVXDownloaderDlg& window) : owned_(&window), window_(window) {}
        MessageAnswer Show(std::string_view caption, std::string_view text,
                           MessageButtons buttons) override;

      private:
        CQtMessageBox owned_;
        CQtMessageBox free_;
        CTVXDownloaderDlg& window_;
    };

    void CreateParts();
    void SkinButtons();
    void SkinProgress();
    void OnPosted(uint32_t message, uintptr_t wParam, uintptr_t lParam);
    void OnQuit();
    void End();

    std::unique_ptr<WindowBoxes> ownBoxes_;
    IMessageBox* boxes_;
    CFolderChooser ownBrowser_;
    IFolderBrowser* browser_;

    QFont labelFont_;
    QFont noticeFont_;
    CSkinImageMap images_;
    QLabel* background_ = nullptr;
    std::map<Control, CTransparentStatic*> labels_;
    std::map<Control, CSkinButton*> buttons_;
    CSkinProgress* progress_ = nullptr;
    CSkinToolTip* toolTip_ = nullptr;
    CAgreementPanel agreement_;
    std::string gameTitle_;
    QPointer<CNowLoading> waitDialog_;

    QEventLoop loop_;
    bool initialised_ = false;
    bool ended_ = false;
    bool quitRequested_ = false;
    // Read by the installer thread's boxes.
    std::atomic<bool> shown_{false};
    bool dragging_ = false;
    QPoint dragPointer_;
    QPoint dragWindow_;

    // Last, so that it is gone before the parts it talks to.
    std::unique_ptr<CDownloaderController> controller_;
};

}  // namespace launcher
