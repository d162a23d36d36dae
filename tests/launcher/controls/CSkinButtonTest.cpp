// The skinned button's pictures per state, its masks against the parent's
// background, mouse-over tracking, check-box mode and double clicks, checked
// by pixels of the button as drawn.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "QtTestApp.h"
#include "WidgetPixels.h"
#include "launcher/controls/CSkinButton.h"
#include "support/TempDir.h"

using launcher::CSkinButton;
using launcher::SkinButtonResult;
using tvxtest::PixelAt;

namespace {

constexpr QRgb kNormal = 0xFFC00000;
constexpr QRgb kOver = 0xFF00A000;
constexpr QRgb kPressed = 0xFF0000C0;
constexpr QRgb kDisabled = 0xFF808080;
constexpr QRgb kBackground = 0xFF30C0C0;  // the skin's picture behind the button
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr int kWidth = 40;
constexpr int kHeight = 30;
// A magenta square in the corner of every picture.
const QPoint kMaskedPixel(2, 2);
const QPoint kCentre(kWidth / 2, kHeight / 2);

QImage Picture(QRgb color) {
    QImage image = tvxtest::Solid(kWidth, kHeight, color);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            image.setPixel(x, y, CSkinButton::kMagenta);
    return image;
}

// A window like the launcher's: a background picture control behind a
// skinned button.
struct Window {
    QWidget widget;
    QLabel* background = nullptr;
    CSkinButton* button = nullptr;

    explicit Window(bool transparent) {
        widget.resize(120, 80);
        background = new QLabel(&widget);
        background->setGeometry(0, 0, 120, 80);
        background->setPixmap(QPixmap::fromImage(tvxtest::Solid(120, 80, kBackground)));
        button = new CSkinButton(&widget);
        button->move(30, 20);
        EXPECT_EQ(
            button->SetBitmaps(Picture(kNormal), CSkinButton::kMagenta, Picture(kOver),
                               CSkinButton::kMagenta, Picture(kPressed), CSkinButton::kMagenta,
                               Picture(kDisabled), CSkinButton::kMagenta),
            SkinButtonResult::Ok);
        if (transparent)
            button->DrawTransparent();
        button->SizeToContent();
        widget.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
        QCoreApplication::processEvents();
    }

    void Enter() {
        QEnterEvent enter(QPointF(kCentre), button->mapTo(&widget, QPointF(kCentre)),
                          button->mapToGlobal(QPointF(kCentre)));
        QApplication::sendEvent(button, &enter);
    }
    void Leave() {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
    }
    void Move(Qt::MouseButtons held) {
        QMouseEvent move(QEvent::MouseMove, QPointF(kCentre), button->mapToGlobal(QPointF(kCentre)),
                         Qt::NoButton, held, Qt::NoModifier);
        QApplication::sendEvent(button, &move);
    }
    void Mouse(QEvent::Type type) {
        QMouseEvent event(
            type, QPointF(kCentre), button->mapToGlobal(QPointF(kCentre)), Qt::LeftButton,
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    }
};

}  // namespace

TEST(CSkinButtonTest, ShowsThePictureOfEachState) {
    tvxtest::EnsureQtApp();
    Window window(true);
    CSkinButton& button = *window.button;
    EXPECT_EQ(button.geometry(), QRect(30, 20, kWidth, kHeight)) << "sized in place";

    EXPECT_EQ(PixelAt(button, kCentre), kNormal);
    EXPECT_EQ(PixelAt(button, kMaskedPixel), kBackground) << "magenta shows the parent's picture";
    tvxtest::SaveScreenshot(window.widget, "skin_button_normal");

    window.Enter();
    EXPECT_TRUE(button.IsMouseOver());
    EXPECT_EQ(PixelAt(button, kCentre), kOver);
    EXPECT_EQ(PixelAt(button, kMaskedPixel), kBackground);
    tvxtest::SaveScreenshot(window.widget, "skin_button_mouse_over");

    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, kCentre);
    EXPECT_TRUE(button.isDown());
    EXPECT_EQ(PixelAt(button, kCentre), kPressed);
    // The pressed picture moves by (1, 1) and is drawn after the sunken
    // frame, whose left edge stays in sight.
    EXPECT_EQ(PixelAt(button, {0, kCentre.y()}), button.palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(PixelAt(button, {1, kCentre.y()}), kPressed);
    tvxtest::SaveScreenshot(window.widget, "skin_button_pressed");
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, kCentre);
    EXPECT_EQ(PixelAt(button, kCentre), kOver);

    window.Leave();
    EXPECT_FALSE(button.IsMouseOver());
    EXPECT_EQ(PixelAt(button, kCentre), kNormal);

    window.Enter();
    button.setEnabled(false);
    EXPECT_FALSE(button.IsMouseOver()) << "disabling ends the mouse-over";
    EXPECT_EQ(PixelAt(button, kCentre), kDisabled);
    EXPECT_EQ(PixelAt(button, kMaskedPixel), kBackground);
    tvxtest::SaveScreenshot(window.widget, "skin_button_disabled");

    button.SetShowDisabledBitmap(false);
    EXPECT_EQ(PixelAt(button, kCentre), kNormal);
}

TEST(CSkinButtonTest, WithoutTransparentDrawingMagentaShowsTheFill) {
    tvxtest::EnsureQtApp();
    Window window(false);
    EXPECT_EQ(PixelAt(*window.button, kMaskedPixel), kWhite);
    EXPECT_EQ(PixelAt(*window.button, kCentre), kNormal);
}

TEST(CSkinButtonTest, ParentBackgroundIsTakenOnceAtTheNextPaint) {
    tvxtest::EnsureQtApp();
    Window window(true);
    EXPECT_EQ(PixelAt(*window.button, kMaskedPixel), kBackground);
    // A later change of the picture behind does not reach the saved copy.
    window.background->setPixmap(QPixmap::fromImage(tvxtest::Solid(120, 80, 0xFF000000)));
    EXPECT_EQ(PixelAt(*window.button, kMaskedPixel), kBackground);
    window.button->DrawTransparent();
    EXPECT_EQ(PixelAt(*window.button, kMaskedPixel), kWhite) << "the fill until the copy is taken";
    QCoreApplication::processEvents();
    EXPECT_EQ(PixelAt(*window.button, kMaskedPixel), 0xFF000000) << "switching on again retakes it";
}

TEST(CSkinButtonTest, MouseOverDoesNotBeginWhileTheLeftButtonIsHeld) {
    tvxtest::EnsureQtApp();
    Window window(true);
    window.Move(Qt::LeftButton);
    EXPECT_FALSE(window.button->IsMouseOver());
    window.Move(Qt::NoButton);
    EXPECT_TRUE(window.button->IsMouseOver());
    window.Move(Qt::LeftButton);
    EXPECT_TRUE(window.button->IsMouseOver()) << "a press on the lit button keeps it lit";

    window.Leave();
    window.button->SetFlat(false);
    window.Move(Qt::NoButton);
    EXPECT_FALSE(window.button->IsMouseOver()) << "only flat buttons track the mouse";
}

TEST(CSkinButtonTest, DoubleClickIsTwoClicks) {
    tvxtest::EnsureQtApp();
    Window window(true);
    QSignalSpy clicks(window.button, &QAbstractButton::clicked);
    window.Mouse(QEvent::MouseButtonPress);
    window.Mouse(QEvent::MouseButtonRelease);
    window.Mouse(QEvent::MouseButtonDblClick);
    window.Mouse(QEvent::MouseButtonRelease);
    EXPECT_EQ(clicks.count(), 2);
}

TEST(CSkinButtonTest, CheckBoxModeTogglesBeforeTheHandlerAndDrawsPressed) {
    tvxtest::EnsureQtApp();
    Window window(true);
    CSkinButton& button = *window.button;
    button.SetCheck(1);
    EXPECT_EQ(button.GetCheck(), 0) << "no check state outside check-box mode";

    button.SetCheckBox(true);
    std::vector<int> seen;
    QObject::connect(&button, &QAbstractButton::clicked,
                     [&] { seen.push_back(button.GetCheck()); });
    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, kCentre);
    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, kCentre);
    EXPECT_EQ(seen, (std::vector<int>{1, 0}));

    button.SetCheck(7);
    EXPECT_EQ(button.GetCheck(), 1) << "any non-zero value checks";
    window.Leave();
    // Checked draws the pressed picture, but not moved.
    EXPECT_EQ(PixelAt(button, kCentre), kPressed);
    EXPECT_EQ(PixelAt(button, {kWidth - 1, kCentre.y()}), kPressed);
    EXPECT_EQ(PixelAt(button, kMaskedPixel), kBackground);
    tvxtest::SaveScreenshot(window.widget, "skin_button_checked");
    button.SetCheck(0);
    EXPECT_EQ(PixelAt(button, kCentre), kNormal);
}

TEST(CSkinButtonTest, PicturesFromFiles) {
    tvxtest::EnsureQtApp();
    tvxtest::TempDir dir;
    const QString base = QString::fromStdString(dir.Path());
    ASSERT_TRUE(Picture(kNormal).save(base + "n.png"));
    ASSERT_TRUE(Picture(kOver).save(base + "o.png"));
    ASSERT_TRUE(tvxtest::WriteFile(dir.Path() + "broken.jpg", "not a picture"));

    CSkinButton button;
    EXPECT_EQ(button.LoadBitmaps(base + "n.png", base + "o.png", QString(), QString()),
              SkinButtonResult::Ok);
    EXPECT_TRUE(button.HasBitmap(CSkinButton::Slot::Normal));
    EXPECT_FALSE(button.HasBitmap(CSkinButton::Slot::Pressed));
    EXPECT_EQ(button.sizeHint(), QSize(kWidth, kHeight));
    // An empty slot draws no picture: pressed shows only the background.
    button.resize(kWidth, kHeight);
    button.setDown(true);
    EXPECT_EQ(PixelAt(button, kCentre), kWhite);
    button.setDown(false);

    for (const QString& bad : {base + "broken.jpg", base + "missing.png"}) {
        EXPECT_EQ(button.LoadBitmaps(base + "n.png", bad, QString(), QString()),
                  SkinButtonResult::InvalidPicture);
        EXPECT_FALSE(button.HasBitmap(CSkinButton::Slot::Normal)) << "a failure clears every slot";
    }
}

TEST(CSkinButtonTest, PlainButtonWithTextScreenshot) {
    tvxtest::EnsureQtApp();
    QWidget parent;
    parent.resize(220, 60);
    CSkinButton button(&parent);
    button.setText(QStringLiteral("고속 다운로드"));
    button.SetFlat(false);
    button.setGeometry(10, 10, 200, 40);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    // Only the text colour (0x666666) and the white fill are there.
    const QImage image = tvxtest::Rendered(button);
    bool textFound = false;
    for (int y = 0; y < image.height() && !textFound; ++y)
        for (int x = 0; x < image.width(); ++x)
            textFound |= qGray(image.pixel(x, y)) < 0xA0 && x > 4 && x < 195 && y > 4 && y < 35;
    EXPECT_TRUE(textFound);
    tvxtest::SaveScreenshot(parent, "skin_button_plain_text");
}
