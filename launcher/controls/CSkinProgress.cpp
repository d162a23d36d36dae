#include "launcher/controls/CSkinProgress.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace launcher {

CSkinProgress::CSkinProgress(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    QProgressBar::setRange(low_, high_);
    QProgressBar::setValue(position_);
}

void CSkinProgress::SetBitmap(const QPixmap& bar, bool repaint) {
    bar_ = bar;
    if (repaint)
        update();
}

void CSkinProgress::SetRange(int low, int high) {
    low_ = low;
    high_ = high;
    position_ = std::clamp(position_, std::min(low_, high_), std::max(low_, high_));
    QProgressBar::setRange(std::min(low_, high_), std::max(low_, high_));
    QProgressBar::setValue(position_);
    update();
}

void CSkinProgress::SetPos(int position) {
    position_ = std::clamp(position, std::min(low_, high_), std::max(low_, high_));
    // The standard bar repaints on its own; the picture bar asks for it here.
    QProgressBar::setValue(position_);
    update();
}

int CSkinProgress::Span() const {
    const int span = std::abs(high_ - low_);
    return span == 0 ? 1 : span;
}

int CSkinProgress::Percent() const {
    // The share of the range from its low end; for ranges starting at zero or
    // below this is (100 / span) * (|low| + position).
    const double percent =
        100.0 / Span() * (static_cast<double>(position_) - std::min(low_, high_));
    return std::clamp(static_cast<int>(percent), 0, 100);
}

int CSkinProgress::FillWidth(int innerWidth, int percent) {
    if (innerWidth <= 0)
        return 0;
    const int width = static_cast<int>(innerWidth / 100.0 * percent);
    return std::clamp(width, 0, innerWidth - 1);
}

void CSkinProgress::paintEvent(QPaintEvent* event) {
    if (bar_.isNull()) {
        QProgressBar::paintEvent(event);
        return;
    }
    const QRect inner = rect().adjusted(1, 1, -1, -1);
    const int width = FillWidth(inner.width(), Percent());
    if (width <= 0 || inner.height() <= 0)
        return;
    QPainter painter(this);
    // Tiles start at the fill's corner; the last ones are cut in both
    // directions.
    painter.drawTiledPixmap(QRect(inner.topLeft(), QSize(width, inner.height())), bar_);
}

}  // namespace launcher
