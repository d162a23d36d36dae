// tvx-launcher-art <folder>: draws the launcher's built-in pictures and writes
// them into the folder: the wait animation (nowloading.gif, 64x64, 12 frames)
// and the data-collection notice of the agreement panel (agreement.png,
// 592x447, 24 bits). The results are kept in launcher/resources/; run this
// again only to change them.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/launcher_art/GifWriter.h"

namespace {

constexpr int kFrames = 12;
constexpr int kGifSize = 64;
constexpr int kFrameDelayCs = 10;

// Colours of the wait animation: white ground, a ramp from light grey to the
// publisher's blue for the dots, so that antialiased edges stay in the table.
QList<QRgb> SpinnerPalette() {
    QList<QRgb> table;
    const QColor from(0xFF, 0xFF, 0xFF);
    const QColor to(0x1E, 0x5A, 0xC8);
    for (int i = 0; i < 128; ++i) {
        const double t = i / 127.0;
        table.append(qRgb(static_cast<int>(from.red() + (to.red() - from.red()) * t),
                          static_cast<int>(from.green() + (to.green() - from.green()) * t),
                          static_cast<int>(from.blue() + (to.blue() - from.blue()) * t)));
    }
    for (int i = 0; i < 128; ++i) {
        const int v = 255 - i;
        table.append(qRgb(v, v, v));
    }
    return table;
}

// Twelve dots on a circle; the lead dot is full blue and the ones behind it
// fade, so the ring seems to turn one step per frame.
QImage SpinnerFrame(int frame) {
    QImage image(kGifSize, kGifSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre(kGifSize / 2.0, kGifSize / 2.0);
    for (int dot = 0; dot < kFrames; ++dot) {
        const int behind = (frame - dot + kFrames) % kFrames;
        const double strength = behind < 6 ? 1.0 - behind / 6.0 : 0.0;
        const QColor light(0xD8, 0xD8, 0xD8);
        const QColor blue(0x1E, 0x5A, 0xC8);
        const QColor color(
            static_cast<int>(light.red() + (blue.red() - light.red()) * strength),
            static_cast<int>(light.green() + (blue.green() - light.green()) * strength),
            static_cast<int>(light.blue() + (blue.blue() - light.blue()) * strength));
        const double angle = dot * 2.0 * M_PI / kFrames - M_PI / 2.0;
        const QPointF at = centre + QPointF(std::cos(angle), std::sin(angle)) * 22.0;
        painter.setBrush(color);
        painter.drawEllipse(at, 5.0, 5.0);
    }
    return image;
}

bool WriteSpinner(const QString& path) {
    QList<tvxart::GifFrame> frames;
    for (int i = 0; i < kFrames; ++i)
        frames.append({SpinnerFrame(i), kFrameDelayCs});
    const QByteArray gif = tvxart::EncodeGif(frames, SpinnerPalette(), true);
    QFile file(path);
    return !gif.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(gif) == gif.size();
}

struct Section {
    const char* heading;
    const char* body;
};

// The notice shown (scrolled) in the agreement panel: who collects what, what
// is used, for what and for how long.
const Section kSections[] = {
    {"1. 수집하는 자",
     "Velmora Inc.(이하 \"회사\")는 고속 다운로드 서비스를 제공하기 위하여 아래와 같이 "
     "정보를 수집합니다."},
    {"2. 수집하는 정보", "이용자 PC의 IP 주소 및 포트(Port) 번호"},
    {"3. 이용하는 정보",
     "IP 주소 및 포트 번호, 클라이언트를 통해 다운로드한 파일의 목록과 각 파일의 MD4 "
     "해시(Hash) 값"},
    {"4. 이용 범위",
     "수집된 정보는 P2P 방식의 고속 다운로드에만 이용되며, 다운로드 소프트웨어가 실행 중인 "
     "동안에만 이용됩니다."},
    {"5. 보유 및 이용 기간",
     "파일을 다운로드하고 게임을 설치하는 동안에만 보유 및 이용하며, 이후에는 보관하지 "
     "않습니다."},
    {"",
     "위 내용에 동의하시면 아래의 확인란을 선택해 주십시오. 동의하지 않으시면 고속 "
     "다운로드 대신 일반 다운로드로 파일을 받을 수 있습니다."},
};

bool WriteAgreement(const QString& path) {
    QImage image(592, 447, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QFont title("NanumGothic");
    title.setPixelSize(17);
    title.setBold(true);
    QFont heading("NanumGothic");
    heading.setPixelSize(13);
    heading.setBold(true);
    QFont body("NanumGothic");
    body.setPixelSize(12);

    const int margin = 16;
    const int width = image.width() - 2 * margin;
    int y = 14;
    painter.setFont(title);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    const QRect titleRect(margin, y, width, QFontMetrics(title).height());
    painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignTop, "개인정보 수집 및 이용 안내");
    y = titleRect.bottom() + 8;
    painter.setPen(QColor(0x1E, 0x5A, 0xC8));
    painter.drawLine(margin, y, margin + width, y);
    y += 12;

    for (const Section& section : kSections) {
        if (*section.heading) {
            painter.setFont(heading);
            painter.setPen(QColor(0x1E, 0x5A, 0xC8));
            const QRect rect(margin, y, width, QFontMetrics(heading).height());
            painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop,
                             QString::fromUtf8(section.heading));
            y = rect.bottom() + 5;
        }
        painter.setFont(body);
        painter.setPen(QColor(0x30, 0x30, 0x30));
        const QString text = QString::fromUtf8(section.body);
        const QRect bounds = QFontMetrics(body).boundingRect(
            QRect(margin + 12, y, width - 12, 1000), Qt::AlignLeft | Qt::TextWordWrap, text);
        painter.drawText(bounds, Qt::AlignLeft | Qt::TextWordWrap, text);
        y = bounds.bottom() + 14;
    }
    painter.end();
    if (y > image.height()) {
        std::fprintf(stderr, "the notice does not fit into the picture (%d lines of pixels)\n", y);
        return false;
    }
    return image.save(path, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    if (!QFontDatabase::families().contains("NanumGothic")) {
        std::fprintf(stderr, "the NanumGothic font (fonts-nanum) is needed for the notice\n");
        return 1;
    }
    const bool ok =
        WriteSpinner(folder + "/nowloading.gif") && WriteAgreement(folder + "/agreement.png");
    if (!ok)
        std::fprintf(stderr, "writing the pictures into %s failed\n", argv[1]);
    return ok ? 0 : 1;
}
