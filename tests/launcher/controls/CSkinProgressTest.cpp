// The picture bar's fill: its percent, its width one pixel short of the
// right edge, its tiles, and the unpainted rest that shows the parent.
#include <gtest/gtest.h>

#include <QTest>

#include "QtTestApp.h"
#include "WidgetPixels.h"
#include "launcher/controls/CSkinProgress.h"

using launcher::CSkinProgress;

namespace {

constexpr QRgb kTrack = 0xFF202020;  // the parent's picture under the bar
constexpr QRgb kTile = 0xFF40A0FF;
constexpr QRgb kTileMark = 0xFFFFE000;  // first column of every tile
constexpr int kTileWidth = 7;
const QPoint kBarAt(20, 10);

QPixmap TilePicture() {
    QImage tile = tvxtest::Solid(kTileWidth, 4, kTile);
    for (int y = 0; y < tile.height(); ++y)
        tile.setPixel(0, y, kTileMark);
    tile.setPixel(3, 0, 0xFFFF0000);  // first row of every tile
    return QPixmap::fromImage(tile);
}

struct Window {
    QWidget widget;
    CSkinProgress* bar = nullptr;

    Window() {
        widget.resize(320, 30);
        QPalette pal = widget.palette();
        pal.setColor(QPalette::Window, QColor::fromRgb(kTrack));
        widget.setPalette(pal);
        widget.setAutoFillBackground(true);
        bar = new CSkinProgress(&widget);
        bar->SetBitmap(TilePicture());
        bar->SetRange(0, 100);
        bar->setGeometry(QRect(kBarAt, QSize(282, 10)));
        widget.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
    }

    // A pixel of the bar, in the bar's coordinates, as seen in the window.
    QRgb At(int x, int y) { return tvxtest::PixelAt(widget, kBarAt + QPoint(x, y)); }
    bool Filled(int x, int y) { return At(x, y) != kTrack; }
};

}  // namespace

TEST(CSkinProgressTest, PercentOfTheRange) {
    tvxtest::EnsureQtApp();
    const struct {
        int low, high, position, percent;
    } cases[] = {
        {0, 100, 0, 0},     {0, 100, 50, 50}, {0, 100, 100, 100}, {0, 100, 150, 100},
        {0, 100, -3, 0},    {-50, 50, 0, 50}, {-50, 50, -50, 0},  {0, 3, 1, 33},
        {0, 3, 2, 66},      {10, 20, 15, 50}, {10, 20, 10, 0},    {5, 5, 5, 0},
        {0, 1000, 999, 99}, {100, 0, 25, 25},
    };
    for (const auto& c : cases) {
        CSkinProgress bar;
        bar.SetRange(c.low, c.high);
        bar.SetPos(c.position);
        EXPECT_EQ(bar.Percent(), c.percent) << c.low << ".." << c.high << " at " << c.position;
    }
}

TEST(CSkinProgressTest, FillWidthNeverReachesTheRightEdge) {
    const struct {
        int inner, percent, width;
    } cases[] = {{280, 0, 0}, {280, 50, 140}, {280, 99, 277}, {280, 100, 279},
                 {1, 100, 0}, {0, 50, 0},     {3, 50, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(CSkinProgress::FillWidth(c.inner, c.percent), c.width)
            << c.inner << " at " << c.percent;
}

TEST(CSkinProgressTest, FillEdgesByPixel) {
    tvxtest::EnsureQtApp();
    Window window;

    // At 0 nothing of the bar is painted.
    for (int x = 0; x < 282; ++x)
        ASSERT_FALSE(window.Filled(x, 5)) << x;
    tvxtest::SaveScreenshot(window.widget, "skin_progress_0");

    window.bar->SetPos(50);
    // Inner width 280 from x = 1: 140 columns, x = 1 to 140.
    EXPECT_FALSE(window.Filled(0, 5)) << "the edge stays unpainted";
    EXPECT_TRUE(window.Filled(1, 5));
    EXPECT_TRUE(window.Filled(140, 5));
    EXPECT_FALSE(window.Filled(141, 5));
    EXPECT_FALSE(window.Filled(60, 0));
    EXPECT_TRUE(window.Filled(60, 1));
    EXPECT_TRUE(window.Filled(60, 8));
    EXPECT_FALSE(window.Filled(60, 9));
    tvxtest::SaveScreenshot(window.widget, "skin_progress_50");

    window.bar->SetPos(100);
    EXPECT_TRUE(window.Filled(279, 5));
    EXPECT_FALSE(window.Filled(280, 5)) << "the fill stops one pixel short";
    EXPECT_FALSE(window.Filled(281, 5));
    tvxtest::SaveScreenshot(window.widget, "skin_progress_100");

    // Whole tiles from the fill's corner, in both directions.
    for (int tile = 0; tile < 4; ++tile) {
        EXPECT_EQ(window.At(1 + tile * kTileWidth, 5), kTileMark) << tile;
        EXPECT_EQ(window.At(2 + tile * kTileWidth, 5), kTile) << tile;
    }
    EXPECT_EQ(window.At(4, 1), 0xFFFF0000u);
    EXPECT_EQ(window.At(4, 5), 0xFFFF0000u) << "second row of tiles";
    EXPECT_EQ(window.At(4, 2), kTile);

    // Going back paints nothing: what was filled is not erased by the bar.
    window.bar->SetPos(0);
    EXPECT_FALSE(window.Filled(100, 5)) << "the parent repaints under the bar";
}

TEST(CSkinProgressTest, WithoutPictureTheStandardBarIsDrawn) {
    tvxtest::EnsureQtApp();
    QWidget parent;
    parent.resize(300, 30);
    CSkinProgress bar(&parent);
    bar.setGeometry(10, 10, 282, 10);
    bar.SetPos(40);
    EXPECT_EQ(bar.value(), 40);
    bar.SetTextFormat(QStringLiteral("%d%%"));
    EXPECT_EQ(bar.TextFormat(), QStringLiteral("%d%%"));
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    tvxtest::SaveScreenshot(parent, "skin_progress_plain_40");
}
