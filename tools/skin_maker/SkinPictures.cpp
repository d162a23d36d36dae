#include "tools/skin_maker/SkinPictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace skin_maker {
namespace {

constexpr QRgb kMagenta = 0xFF00FF;

QFont Font(int pixels, bool bold = false) {
    QFont font(QStringLiteral("NanumGothic"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// A caption right-aligned just left of a label placed at (x, y), 14 high.
void Caption(QPainter& p, int x, int y, const QString& text) {
    p.drawText(QRect(x - 64, y, 58, 14), Qt::AlignRight | Qt::AlignVCenter, text);
}

QImage Background(const QString& title) {
    QImage image(640, 380, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, 380);
    sky.setColorAt(0, QColor(0x18, 0x1c, 0x2c));
    sky.setColorAt(1, QColor(0x08, 0x09, 0x10));
    p.fillRect(image.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);

    p.setPen(QColor(0xd8, 0xb0, 0x58));
    p.setFont(Font(44, true));
    p.drawText(QRect(0, 48, 640, 60), Qt::AlignHCenter | Qt::AlignVCenter, title);
    p.setPen(QColor(0x90, 0x98, 0xb0));
    p.setFont(Font(14));
    p.drawText(QRect(0, 108, 640, 24), Qt::AlignHCenter, QStringLiteral("클라이언트 다운로드"));

    // The panel the labels sit on.
    p.setPen(QColor(0x40, 0x48, 0x60));
    p.setBrush(QColor(0x10, 0x14, 0x20, 220));
    p.drawRoundedRect(QRect(40, 180, 560, 140), 8, 8);

    p.setPen(QColor(0xa8, 0xb0, 0xc8));
    p.setFont(Font(12));
    Caption(p, 112, 195, QStringLiteral("파일"));
    Caption(p, 112, 213, QStringLiteral("경과시간"));
    Caption(p, 112, 231, QStringLiteral("남은시간"));
    Caption(p, 276, 195, QStringLiteral("전체크기"));
    Caption(p, 276, 213, QStringLiteral("받은크기"));
    Caption(p, 276, 231, QStringLiteral("속도"));
    p.drawText(QRect(56, 286, 200, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("설치 폴더"));

    // The progress bar's trough.
    p.setPen(QColor(0x50, 0x58, 0x70));
    p.setBrush(QColor(0x04, 0x05, 0x08));
    p.drawRect(QRect(111, 248, 285, 13));
    return image;
}

enum class State { kNormal, kOver, kPressed, kDisabled };

QImage Button(QSize size, const QString& caption, QColor base, State state) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(kMagenta);
    QPainter p(&image);
    QColor face = base;
    QColor text(0xff, 0xff, 0xff);
    int shift = 0;
    switch (state) {
        case State::kNormal:
            break;
        case State::kOver:
            face = base.lighter(135);
            break;
        case State::kPressed:
            face = base.darker(140);
            shift = 1;
            break;
        case State::kDisabled:
            face = QColor(0x58, 0x58, 0x60);
            text = QColor(0x98, 0x98, 0xa0);
            break;
    }
    // No antialiasing: the edge must be magenta or button, nothing between.
    QLinearGradient shade(0, 0, 0, size.height());
    shade.setColorAt(0, face.lighter(120));
    shade.setColorAt(1, face.darker(120));
    p.setPen(face.darker(160));
    p.setBrush(shade);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, size.width() - 2, size.height() - 2), 6, 6);
    p.drawPath(path);
    p.setPen(text);
    p.setFont(Font(size.height() >= 28 ? 14 : 11, true));
    p.drawText(QRect(shift, shift, size.width(), size.height()), Qt::AlignCenter, caption);
    return image;
}

QImage ProgressFill() {
    QImage image(282, 10, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 0, 10);
    fill.setColorAt(0, QColor(0x9c, 0xe0, 0x6a));
    fill.setColorAt(0.5, QColor(0x3c, 0xa0, 0x2a));
    fill.setColorAt(1, QColor(0x1c, 0x60, 0x12));
    p.fillRect(image.rect(), fill);
    return image;
}

}  // namespace

std::vector<std::pair<QString, QImage>> DrawSkin(const QString& gameTitle) {
    std::vector<std::pair<QString, QImage>> pictures;
    pictures.emplace_back(QStringLiteral("bk_main.jpg"), Background(gameTitle));
    struct ButtonLook {
        const char* name;
        const char* caption;
        QSize size;
        QColor colour;
    };
    const ButtonLook buttons[] = {
        {"start", "시작", {76, 32}, QColor(0x2a, 0x7a, 0xd0)},
        {"stop", "중지", {76, 32}, QColor(0xb0, 0x50, 0x30)},
        {"run", "실행", {76, 32}, QColor(0x30, 0x90, 0x50)},
        {"close", "닫기", {76, 32}, QColor(0x60, 0x60, 0x78)},
        {"folder", "폴더", {56, 20}, QColor(0x60, 0x60, 0x78)},
    };
    const std::pair<const char*, State> states[] = {
        {"", State::kNormal},
        {"_mo", State::kOver},
        {"_se", State::kPressed},
        {"_di", State::kDisabled},
    };
    for (const ButtonLook& b : buttons) {
        for (const auto& [suffix, state] : states) {
            pictures.emplace_back(QStringLiteral("btn_%1%2.jpg").arg(b.name, suffix),
                                  Button(b.size, QString::fromUtf8(b.caption), b.colour, state));
        }
    }
    pictures.emplace_back(QStringLiteral("progressbar.jpg"), ProgressFill());
    return pictures;
}

}  // namespace skin_maker
