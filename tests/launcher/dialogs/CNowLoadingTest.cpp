// The wait dialog: white with its black line of text, the built-in
// animation playing, and its end on close or on a quit request from another
// thread.
#include <gtest/gtest.h>

#include <QImageReader>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <thread>

#include "QtTestApp.h"
#include "WidgetPixels.h"
#include "launcher/controls/CAnimatedPicture.h"
#include "launcher/dialogs/BuiltinResources.h"
#include "launcher/dialogs/CDialogUnits.h"
#include "launcher/dialogs/CNowLoading.h"

using launcher::CNowLoading;

namespace {

const QString kText = QStringLiteral("다운로드 받은 파일을 검사하고 설치를 실행중입니다.");

int DarkPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qGray(image.pixel(x, y)) < 0x60 ? 1 : 0;
    return count;
}

}  // namespace

TEST(BuiltinResourcesTest, WaitAnimationAndAgreementNotice) {
    tvxtest::EnsureQtApp();
    launcher::EnsureBuiltinResources();
    QImageReader gif(QString::fromLatin1(launcher::kWaitAnimation));
    EXPECT_EQ(gif.format(), "gif");
    EXPECT_EQ(gif.size(), QSize(64, 64));
    int frames = 0;
    while (!gif.read().isNull())
        ++frames;
    EXPECT_EQ(frames, 12);

    const QImage notice(QString::fromLatin1(launcher::kAgreementPicture));
    EXPECT_EQ(notice.size(), QSize(592, 447));
    EXPECT_FALSE(notice.hasAlphaChannel());
}

TEST(CNowLoadingTest, PlaysTheAnimationOverItsTextUntilClosed) {
    tvxtest::EnsureQtApp();
    CNowLoading dialog;
    EXPECT_EQ(dialog.Text(), kText);
    EXPECT_EQ(dialog.size(), launcher::CDialogUnits(dialog.font()).Size(213, 86));
    bool checked = false;
    QTimer::singleShot(0, &dialog, [&] {
        if (!QTest::qWaitForWindowExposed(&dialog))
            return;
        EXPECT_EQ(dialog.Picture().FrameCount(), 12);
        EXPECT_TRUE(dialog.Picture().IsAnimating());
        EXPECT_EQ(dialog.Picture().size(), QSize(64, 64));
        EXPECT_EQ(tvxtest::PixelAt(dialog, {2, 2}), 0xFFFFFFFFu) << "white background";
        const QLabel* label = dialog.findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_GT(DarkPixels(tvxtest::Rendered(dialog).copy(label->geometry())), 30)
            << "black text";
        tvxtest::SaveScreenshot(dialog, "now_loading");
        checked = true;
        dialog.close();
    });
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });
    EXPECT_NE(dialog.exec(), -1);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(dialog.Picture().IsAnimating());
    EXPECT_EQ(dialog.Picture().FrameCount(), 0) << "frames released on close";
}

TEST(CNowLoadingTest, EndsOnAQuitRequestFromAnotherThread) {
    tvxtest::EnsureQtApp();
    CNowLoading dialog;
    std::thread installer;
    QTimer::singleShot(0, &dialog, [&] { installer = std::thread([&] { dialog.PostQuit(); }); });
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });
    EXPECT_NE(dialog.exec(), -1);
    installer.join();
    EXPECT_EQ(dialog.Picture().FrameCount(), 0);
}

TEST(CNowLoadingTest, KeepsItsTextWhenTheAnimationIsMissing) {
    tvxtest::EnsureQtApp();
    CNowLoading dialog(nullptr, QStringLiteral("/nonexistent/nowloading.gif"));
    QTimer::singleShot(0, &dialog, [&] {
        if (!QTest::qWaitForWindowExposed(&dialog))
            return;
        EXPECT_EQ(dialog.Picture().FrameCount(), 0);
        EXPECT_EQ(dialog.Text(), kText);
        const QLabel* label = dialog.findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(label->isVisible());
        const QPoint centre = dialog.Picture().geometry().center();
        EXPECT_EQ(tvxtest::PixelAt(dialog, centre), 0xFFFFFFFFu) << "the empty picture shows white";
        EXPECT_GT(DarkPixels(tvxtest::Rendered(dialog).copy(label->geometry())), 30);
        tvxtest::SaveScreenshot(dialog, "now_loading_without_animation");
        dialog.close();
    });
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });
    EXPECT_NE(dialog.exec(), -1);
}
