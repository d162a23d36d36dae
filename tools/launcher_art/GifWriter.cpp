#include "tools/launcher_art/GifWriter.h"

#include <cstdint>
#include <unordered_map>

namespace tvxart {

namespace {

constexpr int kMaxCode = 4095;

void PutU16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

// Packs variable-width codes least significant bit first into data
// sub-blocks of at most 255 bytes.
class CodeStream {
  public:
    explicit CodeStream(QByteArray& out) : out_(out) {}

    void Put(int code, int width) {
        bits_ |= static_cast<uint32_t>(code) << count_;
        count_ += width;
        while (count_ >= 8) {
            PutByte(static_cast<char>(bits_ & 0xFF));
            bits_ >>= 8;
            count_ -= 8;
        }
    }

    void Finish() {
        if (count_ > 0)
            PutByte(static_cast<char>(bits_ & 0xFF));
        if (!block_.isEmpty())
            FlushBlock();
        out_.append('\0');
    }

  private:
    void PutByte(char byte) {
        block_.append(byte);
        if (block_.size() == 255)
            FlushBlock();
    }
    void FlushBlock() {
        out_.append(static_cast<char>(block_.size()));
        out_.append(block_);
        block_.clear();
    }

    QByteArray& out_;
    QByteArray block_;
    uint32_t bits_ = 0;
    int count_ = 0;
};

// LZW as GIF decoders expect it: the code width grows once the next free
// code no longer fits, and the table starts over with a clear code when it
// is full.
void EncodeLzw(const QImage& indexed, int minCodeSize, QByteArray& out) {
    out.append(static_cast<char>(minCodeSize));
    CodeStream stream(out);
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    int width = minCodeSize + 1;
    int next = clear + 2;
    std::unordered_map<uint32_t, int> table;
    table.reserve(kMaxCode);

    stream.Put(clear, width);
    int prefix = -1;
    for (int y = 0; y < indexed.height(); ++y) {
        const uchar* row = indexed.constScanLine(y);
        for (int x = 0; x < indexed.width(); ++x) {
            const int pixel = row[x];
            if (prefix < 0) {
                prefix = pixel;
                continue;
            }
            const uint32_t key =
                (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel);
            const auto found = table.find(key);
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            stream.Put(prefix, width);
            if (next >= (1 << width) && width < 12)
                ++width;
            if (next >= kMaxCode) {
                stream.Put(clear, width);
                table.clear();
                next = clear + 2;
                width = minCodeSize + 1;
            } else {
                table.emplace(key, next++);
            }
            prefix = pixel;
        }
    }
    if (prefix >= 0) {
        stream.Put(prefix, width);
        if (next >= (1 << width) && width < 12)
            ++width;
    }
    stream.Put(end, width);
    stream.Finish();
}

}  // namespace

QByteArray EncodeGif(const QList<GifFrame>& frames, const QList<QRgb>& colorTable, bool loop) {
    if (frames.isEmpty() || colorTable.isEmpty() || colorTable.size() > 256)
        return {};
    const QSize size = frames.front().image.size();
    if (size.isEmpty() || size.width() > 0xFFFF || size.height() > 0xFFFF)
        return {};
    for (const GifFrame& frame : frames) {
        if (frame.image.size() != size || frame.delayCs < 0 || frame.delayCs > 0xFFFF)
            return {};
    }

    int tableBits = 1;
    while ((1 << tableBits) < colorTable.size())
        ++tableBits;
    const int minCodeSize = tableBits < 2 ? 2 : tableBits;

    QByteArray out("GIF89a");
    PutU16(out, size.width());
    PutU16(out, size.height());
    out.append(static_cast<char>(0x80 | (7 << 4) | (tableBits - 1)));
    out.append('\0');  // background colour index
    out.append('\0');  // no aspect ratio
    for (int i = 0; i < (1 << tableBits); ++i) {
        const QRgb rgb = i < colorTable.size() ? colorTable[i] : qRgb(0, 0, 0);
        out.append(static_cast<char>(qRed(rgb)));
        out.append(static_cast<char>(qGreen(rgb)));
        out.append(static_cast<char>(qBlue(rgb)));
    }
    if (loop) {
        out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        PutU16(out, 0);  // repeat forever
        out.append('\0');
    }

    const QList<QRgb> table(colorTable.begin(), colorTable.end());
    for (const GifFrame& frame : frames) {
        // Graphic control: leave the frame in place, no transparency.
        out.append("\x21\xF9\x04", 3);
        out.append(static_cast<char>(1 << 2));
        PutU16(out, frame.delayCs);
        out.append('\0');
        out.append('\0');
        // Image descriptor: the whole screen, no local table.
        out.append('\x2C');
        PutU16(out, 0);
        PutU16(out, 0);
        PutU16(out, size.width());
        PutU16(out, size.height());
        out.append('\0');
        const QImage indexed = frame.image.convertToFormat(QImage::Format_Indexed8, table,
                                                           Qt::ThresholdDither | Qt::AvoidDither);
        if (indexed.isNull())
            return {};
        EncodeLzw(indexed, minCodeSize, out);
    }
    out.append('\x3B');
    return out;
}

}  // namespace tvxart
