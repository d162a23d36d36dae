#pragma once

// A small GIF89a writer. Qt reads GIF but cannot write it; the launcher's
// built-in wait animation and the animation tests make theirs with this.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>

namespace tvxart {

struct GifFrame {
    QImage image;     // every frame has the size of the first
    int delayCs = 0;  // hundredths of a second, as stored in the file
};

// Encodes the frames over one global colour table (at most 256 colours);
// every pixel is mapped to the nearest colour of the table. loop adds the
// Netscape extension that repeats the animation forever. Empty on bad input:
// no frames, frames of different sizes, an empty or too large table.
QByteArray EncodeGif(const QList<GifFrame>& frames, const QList<QRgb>& colorTable, bool loop);

}  // namespace tvxart
