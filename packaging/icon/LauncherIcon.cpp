#include "packaging/icon/LauncherIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>

namespace packaging {
namespace {

// The design lives on a 256-unit canvas; smaller icons scale it down.
constexpr qreal kCanvas = 256.0;

void DrawBackground(QPainter& p) {
    // A tile with a small margin, as the menus of desktops expect.
    const QRectF tile(12, 12, 232, 232);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0.0, QColor(0x2f, 0x5d, 0x8a));
    fill.setColorAt(1.0, QColor(0x14, 0x22, 0x3d));
    p.setPen(QPen(QColor(0x0b, 0x14, 0x26), 4));
    p.setBrush(fill);
    p.drawRoundedRect(tile, 44, 44);

    // A soft light from the top, so that the tile does not look flat.
    QRadialGradient glow(QPointF(128, 40), 150);
    glow.setColorAt(0.0, QColor(255, 255, 255, 70));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRoundedRect(tile.adjusted(2, 2, -2, -2), 42, 42);
}

void DrawArrow(QPainter& p) {
    QPainterPath arrow;
    arrow.moveTo(104, 48);
    arrow.lineTo(152, 48);
    arrow.lineTo(152, 118);
    arrow.lineTo(190, 118);
    arrow.lineTo(128, 180);
    arrow.lineTo(66, 118);
    arrow.lineTo(104, 118);
    arrow.closeSubpath();
    QLinearGradient gold(QPointF(0, 48), QPointF(0, 180));
    gold.setColorAt(0.0, QColor(0xff, 0xe0, 0x8a));
    gold.setColorAt(1.0, QColor(0xe0, 0x9a, 0x1e));
    p.setPen(QPen(QColor(0x6b, 0x42, 0x05), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(gold);
    p.drawPath(arrow);
}

void DrawTray(QPainter& p) {
    // The drive the game lands on: an open tray under the arrow.
    QPainterPath tray;
    tray.moveTo(56, 168);
    tray.lineTo(56, 206);
    tray.lineTo(200, 206);
    tray.lineTo(200, 168);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xf2, 0xf5, 0xfa), 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tray);
}

}  // namespace

QImage LauncherIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kCanvas, size / kCanvas);
    DrawBackground(p);
    DrawTray(p);
    DrawArrow(p);
    p.end();
    return image;
}

}  // namespace packaging
