// The transparent label, the scrolled picture and the tooltip window: what
// each shows of its parent, and when.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>

#include "QtTestApp.h"
#include "WidgetPixels.h"
#include "launcher/controls/CScrollImage.h"
#include "launcher/controls/CSkinToolTip.h"
#include "launcher/controls/CTransparentStatic.h"
#include "launcher/dialogs/BuiltinResources.h"

using launcher::CScrollImage;
using launcher::CSkinToolTip;
using launcher::CTransparentStatic;

namespace {

constexpr QRgb kGround = 0xFF204060;

// A parent that paints a plain colour and counts the paints that cover a
// watched rectangle.
class Ground : public QWidget {
  public:
    Ground() {
        resize(300, 120);
        setFont(QFont(QStringLiteral("돋움"), 9));
    }
    QRect watched;
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (event->region().contains(watched))
            ++paints;
        QPainter(this).fillRect(rect(), QColor::fromRgb(kGround));
    }
};

int PixelsBrighterThan(const QImage& image, int gray) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qGray(image.pixel(x, y)) > gray ? 1 : 0;
    return count;
}

}  // namespace

TEST(CTransparentStaticTest, TextChangeRepaintsTheParentAtOnce) {
    tvxtest::EnsureQtApp();
    Ground ground;
    CTransparentStatic label(QStringLiteral("00:00:00"), &ground);
    label.setGeometry(20, 20, 200, 16);
    ground.watched = label.geometry();
    ground.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ground));

    const int before = ground.paints;
    label.SetText(QStringLiteral("남은 시간 01:02:03"));
    EXPECT_EQ(ground.paints, before + 1) << "repainted before returning";
    EXPECT_EQ(label.text(), QStringLiteral("남은 시간 01:02:03"));
    label.SetText(QStringLiteral("남은 시간 01:02:03"));
    EXPECT_EQ(ground.paints, before + 1) << "the same text changes nothing";

    // Light grey letters on the parent's own colour.
    const QImage image = tvxtest::Rendered(ground).copy(label.geometry());
    EXPECT_EQ(image.pixel(0, 15) | 0xFF000000u, kGround) << "no background of its own";
    EXPECT_GT(PixelsBrighterThan(image, 0xC0), 20);
    tvxtest::SaveScreenshot(ground, "transparent_static");

    label.SetColors(QColor(0xFF, 0xFF, 0x00), Qt::black);
    EXPECT_EQ(tvxtest::PixelAt(label, {199, 15}), 0xFF000000u) << "opaque when the owner asks";
    tvxtest::SaveScreenshot(ground, "transparent_static_notice");
}

TEST(CScrollImageTest, ShowsFromTheOffsetWithWhiteTransparent) {
    tvxtest::EnsureQtApp();
    QImage picture = tvxtest::Solid(50, 100, 0xFFFFFFFF);
    for (int x = 0; x < 50; ++x) {
        picture.setPixel(x, 40, 0xFFFF0000);
        for (int y = 60; y < 100; ++y)
            picture.setPixel(x, y, 0xFF0000FF);
    }
    Ground ground;
    CScrollImage image(&ground);
    image.setEnabled(false);
    image.setGeometry(10, 10, 50, 20);
    ASSERT_TRUE(image.SetBitmap(picture));
    EXPECT_TRUE(image.isEnabled());
    EXPECT_EQ(image.PictureSize(), QSize(50, 100));
    ground.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ground));

    const auto at = [&](int y) { return tvxtest::PixelAt(ground, QPoint(25, 10 + y)); };
    EXPECT_EQ(at(0), kGround) << "white shows what lies beneath";
    image.SetVerticalOffset(40);
    EXPECT_EQ(at(0), 0xFFFF0000u);
    EXPECT_EQ(at(1), kGround);
    image.SetVerticalOffset(55);
    EXPECT_EQ(at(4), kGround);
    EXPECT_EQ(at(5), 0xFF0000FFu);
    image.SetVerticalOffset(90);
    EXPECT_EQ(at(9), 0xFF0000FFu);
    EXPECT_EQ(at(10), kGround) << "below the picture's end nothing is drawn";

    EXPECT_FALSE(image.SetBitmap(QStringLiteral("/nonexistent/notice.png")));
    EXPECT_EQ(at(9), kGround);
}

TEST(CScrollImageTest, BuiltinAgreementNotice) {
    tvxtest::EnsureQtApp();
    launcher::EnsureBuiltinResources();
    QWidget panel;
    panel.resize(600, 110);
    QPalette pal = panel.palette();
    pal.setColor(QPalette::Window, QColor(0xC3, 0xC3, 0xC3));
    panel.setPalette(pal);
    panel.setAutoFillBackground(true);
    CScrollImage image(&panel);
    image.setGeometry(4, 4, 592, 100);
    ASSERT_TRUE(image.SetBitmap(QString::fromLatin1(launcher::kAgreementPicture)));
    EXPECT_EQ(image.PictureSize(), QSize(592, 447));
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    tvxtest::SaveScreenshot(panel, "scroll_image_agreement_top");
    image.SetVerticalOffset(200);
    tvxtest::SaveScreenshot(panel, "scroll_image_agreement_200");
}

TEST(CSkinToolTipTest, ShowsOverItsToolWithinTheMaximumWidth) {
    tvxtest::EnsureQtApp();
    QWidget window;
    window.resize(300, 200);
    QWidget tool(&window);
    tool.setGeometry(20, 20, 60, 20);
    QWidget other(&window);
    other.setGeometry(150, 20, 60, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    CSkinToolTip tip(&window);
    tip.SetDelays(0, 10000);
    tip.SetMaxTipWidth(120);
    tip.AddTool(&other, QStringLiteral("다른 도구"));
    tip.AddTool(&tool,
                QStringLiteral("고속 다운로드는 다른 이용자와 파일을 주고받아 더 빨리 받습니다."));
    EXPECT_EQ(tip.TipText().left(7), QStringLiteral("고속 다운로드"));

    const auto relayMove = [&](QWidget& over) {
        const QPointF local(10, 10);
        QMouseEvent move(QEvent::MouseMove, local, over.mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        tip.RelayEvent(&over, &move);
    };

    relayMove(other);
    QTest::qWait(20);
    EXPECT_FALSE(tip.isVisible()) << "one tool: the first was replaced";

    relayMove(tool);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip.isVisible(); }, 2000));
    EXPECT_LE(tip.width(), 120 + 8);
    EXPECT_GT(tip.height(), 2 * QFontMetrics(tip.font()).height()) << "the long text wraps";
    EXPECT_TRUE(tip.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    tvxtest::SaveScreenshot(tip, "skin_tooltip");

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), tool.mapToGlobal(QPointF(10, 10)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    tip.RelayEvent(&tool, &press);
    EXPECT_FALSE(tip.isVisible()) << "a click hides it";

    relayMove(tool);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip.isVisible(); }, 2000));
    relayMove(other);
    EXPECT_FALSE(tip.isVisible()) << "leaving the tool hides it";

    // The tool's own events reach the tip without being relayed.
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), tool.mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&tool, &move);
    EXPECT_TRUE(QTest::qWaitFor([&] { return tip.isVisible(); }, 2000));
}
