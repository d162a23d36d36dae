#include "launcher/controls/CSkinButton.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace launcher {

namespace {

// Two-colour frame: top and left edges in one colour, bottom and right in the
// other, like a raised or sunken three-dimensional border.
void Draw3dRect(QPainter& painter, const QRect& r, const QColor& topLeft,
                const QColor& bottomRight) {
    painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

void DrawFrame(QPainter& painter, const QRect& r, const QColor& color) {
    Draw3dRect(painter, r, color, color);
}

// The picture with every pixel of the transparent colour made fully
// transparent: this is the picture's mask, made once when it is given.
QPixmap MaskedPixmap(const QImage& picture, QRgb key, bool& failed) {
    QImage image =
        picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) {
        failed = true;
        return {};
    }
    const QRgb opaqueKey = key | 0xFF000000u;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] == opaqueKey)
                row[x] = 0;
        }
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    failed = pixmap.isNull();
    return pixmap;
}

}  // namespace

CSkinButton::CSkinButton(QWidget* parent) : QPushButton(parent) {
    setFlat(true);
    setAutoDefault(false);
    setMouseTracking(true);
}

CSkinButton::~CSkinButton() = default;

SkinButtonResult CSkinButton::SetBitmaps(const QImage& normal, QRgb normalKey, const QImage& over,
                                         QRgb overKey, const QImage& pressed, QRgb pressedKey,
                                         const QImage& disabled, QRgb disabledKey) {
    ClearBitmaps();
    const QImage* images[] = {&normal, &over, &pressed, &disabled};
    const QRgb keys[] = {normalKey, overKey, pressedKey, disabledKey};
    for (size_t i = 0; i < pictures_.size(); ++i) {
        if (images[i]->isNull())
            continue;
        bool failed = false;
        QPixmap pixmap = MaskedPixmap(*images[i], keys[i], failed);
        if (failed) {
            ClearBitmaps();
            update();
            return SkinButtonResult::FailedMask;
        }
        pictures_[i] = {std::move(pixmap), keys[i]};
    }
    updateGeometry();
    update();
    return SkinButtonResult::Ok;
}

SkinButtonResult CSkinButton::LoadBitmaps(const QString& normal, const QString& over,
                                          const QString& pressed, const QString& disabled,
                                          QRgb key) {
    const QString* paths[] = {&normal, &over, &pressed, &disabled};
    QImage images[4];
    for (int i = 0; i < 4; ++i) {
        if (paths[i]->isEmpty())
            continue;
        images[i] = QImage(*paths[i]);
        if (images[i].isNull()) {
            ClearBitmaps();
            update();
            return SkinButtonResult::InvalidPicture;
        }
    }
    return SetBitmaps(images[0], key, images[1], key, images[2], key, images[3], key);
}

bool CSkinButton::HasBitmap(Slot slot) const {
    return !pictures_[static_cast<size_t>(slot)].pixmap.isNull();
}

void CSkinButton::ClearBitmaps() {
    for (Picture& picture : pictures_)
        picture = {};
    updateGeometry();
}

void CSkinButton::DrawTransparent(bool repaint) {
    transparent_ = true;
    parentBackground_ = {};
    // The copy is taken on the next turn of the event loop, outside any
    // paint: a widget cannot render its parent while a paint of the same
    // window is under way. By then the button has its final place and size.
    if (!backgroundDue_) {
        backgroundDue_ = true;
        QMetaObject::invokeMethod(this, &CSkinButton::SaveParentBackground, Qt::QueuedConnection);
    }
    if (repaint)
        update();
}

void CSkinButton::SizeToContent() {
    const QPixmap& normal = pictures_[0].pixmap;
    if (normal.isNull())
        return;
    resize(normal.size());
    imageOrigin_ = {0, 0};
}

void CSkinButton::SetCheckBox(bool on) {
    checkBox_ = on;
    setCheckable(on);
    update();
}

int CSkinButton::GetCheck() const {
    return checkBox_ && isChecked() ? 1 : 0;
}

void CSkinButton::SetCheck(int check, bool repaint) {
    if (!checkBox_)
        return;
    const QSignalBlocker quiet(this);
    setChecked(check != 0);
    if (repaint)
        update();
}

void CSkinButton::SetFlat(bool on, bool repaint) {
    setFlat(on);
    if (repaint)
        update();
}

void CSkinButton::SetDrawBorder(bool on, bool repaint) {
    drawBorder_ = on;
    if (repaint)
        update();
}

void CSkinButton::SetShowDisabledBitmap(bool on, bool repaint) {
    showDisabled_ = on;
    if (repaint)
        update();
}

void CSkinButton::SetFlatFocus(bool on, bool repaint) {
    flatFocus_ = on;
    if (repaint)
        update();
}

void CSkinButton::SetColors(QColor background, QColor text) {
    normalBack_ = background;
    normalText_ = text;
    update();
}

void CSkinButton::SetOverColors(QColor background, QColor text) {
    overBack_ = background;
    overText_ = text;
    update();
}

void CSkinButton::SetFocusColors(QColor background, QColor text) {
    focusBack_ = background;
    focusText_ = text;
    update();
}

QSize CSkinButton::sizeHint() const {
    const QPixmap& normal = pictures_[0].pixmap;
    return normal.isNull() ? QPushButton::sizeHint() : normal.size();
}

const CSkinButton::Picture* CSkinButton::PictureToDraw(bool pressed) const {
    if (pressed)
        return &pictures_[static_cast<size_t>(Slot::Pressed)];
    if (!isEnabled() && showDisabled_)
        return &pictures_[static_cast<size_t>(Slot::Disabled)];
    if (mouseOver_)
        return &pictures_[static_cast<size_t>(Slot::Over)];
    return &pictures_[static_cast<size_t>(Slot::Normal)];
}

void CSkinButton::SaveParentBackground() {
    backgroundDue_ = false;
    QWidget* parent = parentWidget();
    if (!parent || !transparent_)
        return;
    QPixmap copy(size());
    copy.fill(parent->palette().color(parent->backgroundRole()));
    // The parent draws itself and its children into the copy; this button
    // draws nothing meanwhile, so the copy holds what lies under it.
    savingBackground_ = true;
    parent->render(&copy, QPoint(), QRegion(geometry()),
                   QWidget::DrawWindowBackground | QWidget::DrawChildren);
    savingBackground_ = false;
    parentBackground_ = std::move(copy);
    update();
}

void CSkinButton::paintEvent(QPaintEvent*) {
    if (savingBackground_)
        return;

    QPainter painter(this);
    const bool pressed = isDown() || (checkBox_ && isChecked());
    const bool focused = hasFocus();
    const bool flat = isFlat();
    const QPalette& pal = palette();
    QRect frame = rect();

    const bool overState = pressed || mouseOver_;
    const QColor& back = overState ? overBack_ : focused ? focusBack_ : normalBack_;
    const QColor& fore = overState ? overText_ : focused ? focusText_ : normalText_;

    if (transparent_ && !parentBackground_.isNull()) {
        painter.drawPixmap(0, 0, parentBackground_);
    } else {
        if (!flat && (focused || isDefault())) {
            DrawFrame(painter, frame, Qt::black);
            frame.adjust(1, 1, -1, -1);
        }
        painter.fillRect(frame, back);
    }

    if (pressed) {
        if (!flat)
            DrawFrame(painter, frame, pal.color(QPalette::Dark));
        else if (drawBorder_)
            Draw3dRect(painter, frame, pal.color(QPalette::Dark), pal.color(QPalette::Light));
    } else if (!flat) {
        Draw3dRect(painter, frame, pal.color(QPalette::Light), pal.color(QPalette::Shadow));
        Draw3dRect(painter, frame.adjusted(1, 1, -1, -1), pal.color(QPalette::Midlight),
                   pal.color(QPalette::Dark));
    } else if (drawBorder_ && mouseOver_) {
        Draw3dRect(painter, frame, pal.color(QPalette::Light), pal.color(QPalette::Dark));
    }

    const bool hasText = !text().isEmpty();
    const QRect item = rect();
    QRect textRect = item;
    const Picture* picture = PictureToDraw(pressed);
    if (const QPixmap& pixmap = picture->pixmap;
        !pixmap.isNull() || !pictures_[0].pixmap.isNull()) {
        // Place by the picture of the slot, or by the normal one when the
        // slot is empty, so that the text does not jump between states.
        const QSize size = pixmap.isNull() ? pictures_[0].pixmap.size() : pixmap.size();
        QPoint at(item.left(), item.top() + (item.height() - size.height()) / 2);
        if (hasText) {
            at.rx() += imageOrigin_.x();
            textRect.setLeft(item.left() + size.width() + imageOrigin_.x());
        } else {
            at.rx() += (item.width() - size.width()) / 2;
        }
        if (pressed && !checkBox_)
            at += pressedOffset_;
        if (!pixmap.isNull())
            painter.drawPixmap(at, pixmap);
    }

    if (hasText) {
        if (pressed && !checkBox_)
            textRect.translate(pressedOffset_);
        painter.setFont(font());
        const int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
        if (!isEnabled()) {
            painter.setPen(pal.color(QPalette::Light));
            painter.drawText(textRect.translated(1, 1), flags, text());
            painter.setPen(pal.color(QPalette::Dark));
        } else {
            painter.setPen(fore);
        }
        painter.drawText(textRect, flags, text());
    }

    if (focused && (!flat || flatFocus_)) {
        QPen pen(pal.color(QPalette::WindowText), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(item.adjusted(3, 3, -4, -4));
    }
}

void CSkinButton::BeginMouseOver() {
    if (!isFlat() || mouseOver_ || !isEnabled())
        return;
    mouseOver_ = true;
    update();
}

void CSkinButton::EndMouseOver() {
    if (!mouseOver_)
        return;
    mouseOver_ = false;
    update();
}

void CSkinButton::enterEvent(QEnterEvent* event) {
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton))
        BeginMouseOver();
    QPushButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
    EndMouseOver();
    QPushButton::leaveEvent(event);
}

void CSkinButton::mouseMoveEvent(QMouseEvent* event) {
    // A drag that started elsewhere does not light the button up; one that
    // started on it keeps it lit.
    if (!mouseOver_ && !(event->buttons() & Qt::LeftButton) && rect().contains(event->pos()))
        BeginMouseOver();
    QPushButton::mouseMoveEvent(event);
}

void CSkinButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a quick double click is a click of its own.
    mousePressEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
    EndMouseOver();
    QPushButton::focusOutEvent(event);
}

void CSkinButton::changeEvent(QEvent* event) {
    if ((event->type() == QEvent::EnabledChange && !isEnabled()) ||
        (event->type() == QEvent::ActivationChange && !isActiveWindow()))
        EndMouseOver();
    QPushButton::changeEvent(event);
}

}  // namespace launcher
