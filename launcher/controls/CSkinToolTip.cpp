#include "launcher/controls/CSkinToolTip.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

namespace launcher {

namespace {

constexpr int kMargin = 4;
// Where the tip appears relative to the pointer, clear of the cursor.
constexpr QPoint kPointerOffset(2, 20);

}  // namespace

CSkinToolTip::CSkinToolTip(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::ArrowCursor);
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(500);
    popTimer_.setSingleShot(true);
    popTimer_.setInterval(5000);
    connect(&showTimer_, &QTimer::timeout, this, &CSkinToolTip::ShowTip);
    connect(&popTimer_, &QTimer::timeout, this, &CSkinToolTip::HideTip);
}

void CSkinToolTip::SetMaxTipWidth(int width) {
    maxWidth_ = width;
    if (isVisible())
        resize(sizeHint());
}

void CSkinToolTip::AddTool(QWidget* tool, const QString& text) {
    HideTip();
    if (tool_)
        tool_->removeEventFilter(this);
    tool_ = tool;
    text_ = text;
    if (tool_) {
        // Moves over the tool arrive only while it tracks the mouse.
        tool_->setMouseTracking(true);
        tool_->installEventFilter(this);
    }
}

bool CSkinToolTip::eventFilter(QObject* watched, QEvent* event) {
    RelayEvent(watched, event);
    return false;
}

void CSkinToolTip::SetDelays(int initialMs, int popMs) {
    showTimer_.setInterval(initialMs);
    popTimer_.setInterval(popMs);
}

void CSkinToolTip::RelayEvent(QObject*, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
            PointerAt(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::KeyPress:
        case QEvent::Wheel:
            HideTip();
            break;
        case QEvent::Leave:
            if (tool_ && !tool_->rect().contains(tool_->mapFromGlobal(QCursor::pos())))
                HideTip();
            break;
        default:
            break;
    }
}

void CSkinToolTip::PointerAt(const QPoint& global) {
    lastPointer_ = global;
    const bool onTool = tool_ && tool_->isVisible() && !text_.isEmpty() &&
                        tool_->rect().contains(tool_->mapFromGlobal(global));
    if (!onTool) {
        HideTip();
        return;
    }
    if (!isVisible() && !showTimer_.isActive())
        showTimer_.start();
}

void CSkinToolTip::ShowTip() {
    if (!tool_ || text_.isEmpty())
        return;
    resize(sizeHint());
    QPoint at = lastPointer_ + kPointerOffset;
    if (const QScreen* screen = tool_->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::min(at.x(), area.right() - width()));
        at.setY(std::min(at.y(), area.bottom() - height()));
    }
    move(at);
    show();
    popTimer_.start();
}

void CSkinToolTip::HideTip() {
    showTimer_.stop();
    popTimer_.stop();
    hide();
}

QRect CSkinToolTip::TextRect(int maxWidth) const {
    const QFontMetrics metrics(font());
    const int limit = maxWidth > 0 ? maxWidth : 1 << 16;
    return metrics.boundingRect(QRect(0, 0, limit, 1 << 16), Qt::TextWordWrap | Qt::AlignLeft,
                                text_);
}

QSize CSkinToolTip::sizeHint() const {
    const QRect text = TextRect(maxWidth_);
    return QSize(text.width() + 2 * kMargin, text.height() + 2 * kMargin);
}

void CSkinToolTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::ToolTipBase));
    painter.setPen(pal.color(QPalette::ToolTipText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setFont(font());
    painter.drawText(rect().adjusted(kMargin, kMargin, -kMargin, -kMargin),
                     Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text_);
}

}  // namespace launcher
