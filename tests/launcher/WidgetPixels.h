#pragma once

// Pixel checks of widgets as they are drawn now, for the widget tests.

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

namespace tvxtest {

// The widget rendered now (its children included), as 32-bit RGB.
inline QImage Rendered(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// One pixel of the rendered widget, without alpha.
inline QRgb PixelAt(QWidget& widget, QPoint at) {
    return Rendered(widget).pixel(at) | 0xFF000000u;
}

inline QImage Solid(int width, int height, QRgb color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

}  // namespace tvxtest
