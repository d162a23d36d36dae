#include "launcher/controls/CScrollImage.h"

#include <QPaintEvent>
#include <QPainter>

namespace launcher {

CScrollImage::CScrollImage(QWidget* parent) : QWidget(parent) {}

bool CScrollImage::SetBitmap(const QString& path) {
    return SetBitmap(QImage(path));
}

bool CScrollImage::SetBitmap(const QImage& picture) {
    if (picture.isNull()) {
        picture_ = {};
        pictureSize_ = {};
        update();
        return false;
    }
    QImage image =
        picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] == 0xFFFFFFFFu)
                row[x] = 0;
        }
    }
    picture_ = QPixmap::fromImage(std::move(image));
    pictureSize_ = picture.size();
    setEnabled(true);
    update();
    return true;
}

void CScrollImage::SetVerticalOffset(int offset) {
    offset_ = offset;
    repaint();
}

void CScrollImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    const QRect source(0, offset_, width(), height());
    painter.drawPixmap(QPoint(0, 0), picture_, source);
}

}  // namespace launcher
