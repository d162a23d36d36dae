// The main window as a view: what a skin package makes of it, and how it
// takes the mouse, the keyboard and posted messages. The controller stays
// idle here (the library is never started); the flow test drives both.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <thread>

#include "QtTestApp.h"
#include "WidgetPixels.h"
#include "launcher/controls/CScrollImage.h"
#include "launcher/controls/CSkinButton.h"
#include "launcher/controls/CSkinProgress.h"
#include "launcher/controls/CTransparentStatic.h"
#include "launcher/window/CTVXDownloaderDlg.h"
#include "support/TempDir.h"
#include "window/WindowTestSupport.h"

namespace {

using launcher::Control;
using launcher::CTVXDownloaderDlg;

launcher::DownloaderConfig IdleConfig() {
    launcher::DownloaderConfig config;
    config.gameTitle = "Halvard2";
    config.gameId = "halvard2";
    config.folderName = "halvard2";
    return config;
}

class WindowViewTest : public testing::Test {
  protected:
    void SetUp() override { tvxtest::EnsureQtApp(); }

    // The demo skin without the named pictures, unpacked and ready for the
    // window.
    launcher::UnpackedSkin DemoSkin(const std::vector<std::string>& without = {}) {
        std::string why;
        const std::string package =
            windowtest::MakeSkinPackage(dir_.Path() + "maker", without, why);
        if (package.empty())
            ADD_FAILURE() << why;
        return windowtest::UnpackForTest(package, dir_.Path() + "temp/");
    }

    tvxtest::TempDir dir_{"tvx-window-"};
    windowtest::ScriptedBoxes boxes_;
};

constexpr const char* kButtonNames[] = {"start", "stop", "run", "close", "folder"};
constexpr Control kButtons[] = {Control::Start, Control::Stop, Control::Run, Control::Close,
                                Control::FolderButton};

TEST_F(WindowViewTest, DemoSkinLaysOutPicturesFontsAndTheAgreementPanel) {
    CTVXDownloaderDlg window(IdleConfig(), &boxes_);
    const launcher::UnpackedSkin skin = DemoSkin();
    ASSERT_EQ(skin.entries.size(), 22u);
    window.ApplySkin(skin);

    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(640, 380));
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(
        window.geometry().center(),
        QRect(QPoint(), QSize(640, 380)).translated(screen.center() - QPoint(319, 189)).center());
    EXPECT_EQ(window.Images().Size(), 22u);
    EXPECT_FALSE(window.Background().pixmap().isNull());
    EXPECT_EQ(window.Background().geometry(), QRect(0, 0, 640, 380));

    // Every button skinned, sized to its picture, at its place; the picture
    // carries the caption.
    const struct {
        Control control;
        QRect rect;
    } buttons[] = {
        {Control::Run, {100, 332, 76, 32}},          {Control::Start, {184, 332, 76, 32}},
        {Control::Stop, {268, 332, 76, 32}},         {Control::Close, {352, 332, 76, 32}},
        {Control::FolderButton, {340, 294, 56, 20}},
    };
    for (const auto& b : buttons) {
        const launcher::CSkinButton& button = *window.Button(b.control);
        SCOPED_TRACE(static_cast<int>(b.control));
        EXPECT_EQ(button.geometry(), b.rect);
        for (auto slot :
             {launcher::CSkinButton::Slot::Normal, launcher::CSkinButton::Slot::Over,
              launcher::CSkinButton::Slot::Pressed, launcher::CSkinButton::Slot::Disabled})
            EXPECT_TRUE(button.HasBitmap(slot));
        EXPECT_TRUE(button.text().isEmpty());
    }
    EXPECT_FALSE(window.Button(Control::Run)->isEnabled());
    const launcher::CSkinButton& highSpeed = *window.Button(Control::HighSpeed);
    EXPECT_TRUE(highSpeed.IsCheckBox());
    EXPECT_FALSE(highSpeed.isVisibleTo(&window));
    EXPECT_EQ(highSpeed.pos(), QPoint(13, 293));

    const launcher::CSkinProgress& progress = window.Progress();
    EXPECT_TRUE(progress.HasBitmap());
    EXPECT_EQ(progress.geometry(), QRect(113, 250, 282, 10));
    EXPECT_EQ(progress.Low(), 0);
    EXPECT_EQ(progress.High(), 100);
    EXPECT_EQ(progress.GetPos(), 0);
    EXPECT_EQ(progress.TextFormat(), "%d%%");
    EXPECT_EQ(progress.BarFont(), window.NoticeFont());

    // Fonts by name, Korean carried by NanumGothic; colours of the labels.
    const QFontInfo label(window.Label(Control::Percent)->font());
    EXPECT_EQ(label.family(), "NanumGothic");
    EXPECT_EQ(label.pixelSize(), 12);
    EXPECT_EQ(label.weight(), 400);
    EXPECT_EQ(window.NoticeFont().families().front(), "Verdana");
    EXPECT_EQ(window.NoticeFont().pixelSize(), 13);
    EXPECT_EQ(window.NoticeFont().weight(), 700);
    EXPECT_EQ(window.Label(Control::Notice)->font(), window.NoticeFont());
    EXPECT_EQ(window.Label(Control::Folder)->palette().color(QPalette::WindowText).rgb(),
              0xFFEFEFEFu);
    EXPECT_FALSE(window.Label(Control::Folder)->autoFillBackground());
    const QPalette notice = window.Label(Control::Notice)->palette();
    EXPECT_EQ(notice.color(QPalette::WindowText).rgb(), 0xFFFFFF00u);
    EXPECT_EQ(notice.color(QPalette::Window).rgb(), 0xFF000000u);
    EXPECT_TRUE(window.Label(Control::Notice)->autoFillBackground());

    // The agreement panel: below the visible area, checked, scrollable.
    launcher::CAgreementPanel& agreement = window.Agreement();
    EXPECT_TRUE(agreement.CheckBox().isChecked());
    EXPECT_TRUE(window.IsChecked(Control::Agreement));
    EXPECT_EQ(agreement.CheckBox().pos(), QPoint(120, 487));
    EXPECT_EQ(agreement.Text().pos(), QPoint(135, 493));
    EXPECT_EQ(agreement.Text().palette().color(QPalette::WindowText).rgb(), 0xFF000000u);
    EXPECT_EQ(agreement.Picture().geometry(), QRect(4, 384, 592, 100));
    EXPECT_EQ(agreement.Picture().PictureSize(), QSize(592, 447));
    EXPECT_EQ(agreement.ScrollBar().minimum(), 0);
    EXPECT_EQ(agreement.ScrollBar().maximum(), 345);
    EXPECT_EQ(agreement.ScrollBar().singleStep(), 1);
    EXPECT_EQ(agreement.ScrollBar().pageStep(), 8);

    // The buttons take the background under them on the next turn of the
    // event loop.
    QCoreApplication::processEvents();
    // No trace of the transparent magenta, though JPEG moved it off the
    // exact colour.
    const QImage drawn = tvxtest::Rendered(window);
    for (const auto& b : buttons) {
        int pink = 0;
        for (int y = b.rect.top(); y <= b.rect.bottom(); ++y) {
            for (int x = b.rect.left(); x <= b.rect.right(); ++x) {
                const QRgb p = drawn.pixel(x, y);
                pink += qRed(p) >= 200 && qGreen(p) <= 60 && qBlue(p) >= 200;
            }
        }
        EXPECT_EQ(pink, 0) << "button " << static_cast<int>(b.control);
    }
    tvxtest::SaveScreenshot(window, "window-skin-applied");
}

TEST_F(WindowViewTest, ButtonMissingOnePictureStaysPlainAndTheOthersAreSkinned) {
    CTVXDownloaderDlg window(IdleConfig(), &boxes_);
    window.ApplySkin(DemoSkin({"btn_stop_di.jpg"}));
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        SCOPED_TRACE(kButtonNames[i]);
        const launcher::CSkinButton& button = *window.Button(kButtons[i]);
        const bool plain = kButtons[i] == Control::Stop;
        EXPECT_EQ(button.HasBitmap(launcher::CSkinButton::Slot::Normal), !plain);
        EXPECT_EQ(button.text().isEmpty(), !plain);
    }
    EXPECT_EQ(window.Button(Control::Stop)->text(), "중지");
    EXPECT_EQ(window.Button(Control::Stop)->pos(), QPoint(268, 332));
    QCoreApplication::processEvents();
    tvxtest::SaveScreenshot(window, "window-plain-stop");
}

TEST_F(WindowViewTest, SkinWithoutUsablePicturesShowsThePlainGreyWindow) {
    // A package that could not be unpacked, and one whose pictures lie in a
    // sub-folder, so that no bare name is found.
    std::string why;
    ASSERT_FALSE(windowtest::MakeSkinPackage(dir_.Path() + "maker", {}, why).empty()) << why;
    const std::string sub = dir_.Path() + "sub/";
    ASSERT_TRUE(tvxtest::MakeDirs(sub));
    const std::string zip =
        "cd '" + sub + "' && cp -r '" + dir_.Path() + "maker/img' skin && zip -q -r sub.zip skin";
    ASSERT_EQ(std::system(zip.c_str()), 0);
    const launcher::UnpackedSkin inFolder =
        windowtest::UnpackForTest(tvxtest::ReadFile(sub + "sub.zip"), dir_.Path() + "temp/");
    ASSERT_FALSE(inFolder.entries.empty());

    const launcher::UnpackedSkin cases[] = {{dir_.Path() + "nothing/", {}}, inFolder};
    for (const launcher::UnpackedSkin& skin : cases) {
        SCOPED_TRACE(skin.entries.size());
        CTVXDownloaderDlg window(IdleConfig(), &boxes_);
        window.ApplySkin(skin);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.size(), QSize(640, 380));
        EXPECT_FALSE(window.Background().isVisibleTo(&window));
        for (Control control : kButtons)
            EXPECT_FALSE(window.Button(control)->HasBitmap(launcher::CSkinButton::Slot::Normal));
        EXPECT_FALSE(window.Progress().HasBitmap());
        EXPECT_EQ(tvxtest::PixelAt(window, {20, 20}), 0xFFC3C3C3u);
        EXPECT_EQ(tvxtest::PixelAt(window, {630, 370}), 0xFFC3C3C3u);
        if (skin.entries.empty())
            tvxtest::SaveScreenshot(window, "window-unskinned");
    }
}

TEST_F(WindowViewTest, WheelAndScrollBarMoveTheAgreementPictureWithinItsRange) {
    CTVXDownloaderDlg window(IdleConfig(), &boxes_);
    window.ApplySkin({dir_.Path() + "nothing/", {}});
    launcher::CAgreementPanel& agreement = window.Agreement();
    auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(50, 50), window.mapToGlobal(QPointF(50, 50)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&window, &event);
    };
    const struct {
        const char* what;
        std::function<void()> act;
        int offset;
    } steps[] = {
        {"notch towards the user", [&] { wheel(-120); }, 4},
        {"three notches", [&] { wheel(-360); }, 16},
        {"half a notch", [&] { wheel(-60); }, 16},
        {"the other half", [&] { wheel(-60); }, 20},
        {"a line", [&] { agreement.ScrollBar().triggerAction(QScrollBar::SliderSingleStepAdd); },
         21},
        {"a page", [&] { agreement.ScrollBar().triggerAction(QScrollBar::SliderPageStepAdd); }, 29},
        {"far away from the user", [&] { wheel(120 * 50); }, 0},
        {"far towards the user", [&] { wheel(-120 * 200); }, 345},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(agreement.Offset(), step.offset) << step.what;
        EXPECT_EQ(agreement.Picture().VerticalOffset(), step.offset) << step.what;
    }
}

TEST_F(WindowViewTest, LeftButtonDragsTheWindowAndMaximisingRestoresIt) {
    CTVXDownloaderDlg window(IdleConfig(), &boxes_);
    window.ApplySkin({dir_.Path() + "nothing/", {}});
    const QPoint start = window.pos();

    QTest::mousePress(&window, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseMove(&window, QPoint(60, 60));
    QTest::mouseRelease(&window, Qt::RightButton, {}, QPoint(60, 60));
    EXPECT_EQ(window.pos(), start);

    QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(&window, QPoint(50, 40));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(50, 40));
    EXPECT_EQ(window.pos(), start + QPoint(30, 20));
    EXPECT_EQ(window.size(), QSize(640, 380));

    window.showMaximized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isMaximized(); }, 2000));
    EXPECT_EQ(window.size(), QSize(640, 380));
}

TEST_F(WindowViewTest, EscapeIsTheCloseCommandAndTheSystemCloseIsTheCloseRequest) {
    {
        CTVXDownloaderDlg window(IdleConfig(), &boxes_);
        window.ApplySkin({dir_.Path() + "nothing/", {}});
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_TRUE(window.Ended());
        EXPECT_FALSE(window.isVisible());
    }
    {
        CTVXDownloaderDlg window(IdleConfig(), &boxes_);
        window.ApplySkin({dir_.Path() + "nothing/", {}});
        window.close();
        EXPECT_TRUE(window.Ended());
        EXPECT_FALSE(window.isVisible());
    }
    // Without a job neither asks anything.
    EXPECT_EQ(boxes_.Shown().size(), 0u) << boxes_.Texts();
}

TEST_F(WindowViewTest, QuitPostedFromAnotherThreadEndsTheWaitDialogAndTheWindow) {
    CTVXDownloaderDlg window(IdleConfig(), &boxes_);
    window.ApplySkin({dir_.Path() + "nothing/", {}});
    // Posted before the dialog runs, as an installer that returns at once
    // would: the dialog's own loop takes it.
    std::thread installer([&window] { window.PostQuit(); });
    installer.join();
    EXPECT_FALSE(window.Ended());
    window.RunWaitDialog();
    EXPECT_TRUE(window.Ended());
    EXPECT_FALSE(window.isVisible());
    // After the quit the wait dialog does not run again.
    window.RunWaitDialog();
}

}  // namespace
