#include "launcher/controls/CAnimatedPicture.h"

#include <QBuffer>
#include <QImageReader>
#include <QPaintEvent>
#include <QPainter>

namespace launcher {

CAnimatedPicture::CAnimatedPicture(QWidget* parent) : QWidget(parent) {
    timer_.setSingleShot(true);
    // Frame times are the point of the control: no coarse rounding.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CAnimatedPicture::Step);
}

CAnimatedPicture::~CAnimatedPicture() = default;

bool CAnimatedPicture::Load(const QString& path) {
    QImageReader reader(path);
    return LoadFrom(reader);
}

bool CAnimatedPicture::Load(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return LoadFrom(reader);
}

bool CAnimatedPicture::LoadFrom(QImageReader& reader) {
    UnLoad();
    reader.setDecideFormatFromContent(true);
    if (reader.format() != "gif")
        return false;
    for (;;) {
        QImage image = reader.read();
        if (image.isNull())
            break;
        // The reader gives the delay that follows the frame just read, in
        // milliseconds; the file stores hundredths of a second.
        const int delayMs = reader.nextImageDelay();
        frames_.push_back({std::move(image), delayMs > 0 ? delayMs / 10 : 0});
        if (!reader.supportsAnimation())
            break;
    }
    updateGeometry();
    return !frames_.empty();
}

bool CAnimatedPicture::Draw() {
    if (frames_.empty())
        return false;
    timer_.stop();
    resize(frames_.front().image.size());
    Show(0);
    return true;
}

void CAnimatedPicture::Stop() {
    timer_.stop();
}

void CAnimatedPicture::UnLoad() {
    Stop();
    frames_.clear();
    if (current_ != -1) {
        current_ = -1;
        emit FrameShown(-1);
    }
    updateGeometry();
    update();
}

void CAnimatedPicture::Show(int index) {
    current_ = index;
    update();
    emit FrameShown(index);
    if (frames_.size() > 1)
        timer_.start(index < 0 ? 0 : FrameWaitMs(frames_[static_cast<size_t>(index)].delayCs));
}

void CAnimatedPicture::Step() {
    if (frames_.size() < 2)
        return;
    if (current_ < 0) {
        Show(0);
    } else if (current_ + 1 < FrameCount()) {
        Show(current_ + 1);
    } else {
        // The cleared picture is on show for one turn of the event loop,
        // then the sequence starts again.
        Show(-1);
    }
}

QSize CAnimatedPicture::sizeHint() const {
    return frames_.empty() ? QWidget::sizeHint() : frames_.front().image.size();
}

void CAnimatedPicture::paintEvent(QPaintEvent*) {
    // Without a picture the control stays empty and shows what lies beneath.
    if (frames_.empty())
        return;
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (current_ >= 0 && current_ < FrameCount())
        painter.drawImage(QPoint(0, 0), frames_[static_cast<size_t>(current_)].image);
}

}  // namespace launcher
