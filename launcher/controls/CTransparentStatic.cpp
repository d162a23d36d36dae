#include "launcher/controls/CTransparentStatic.h"

#include <QPalette>

namespace launcher {

CTransparentStatic::CTransparentStatic(QWidget* parent) : CTransparentStatic(QString(), parent) {}

CTransparentStatic::CTransparentStatic(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    SetColors(QColor::fromRgb(kTextColor));
}

void CTransparentStatic::SetText(const QString& text) {
    if (text == QLabel::text())
        return;
    setText(text);
    if (QWidget* parent = parentWidget(); parent && isVisible())
        parent->repaint(geometry());
}

void CTransparentStatic::SetColors(QColor text, QColor background) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, text);
    if (background.isValid())
        pal.setColor(QPalette::Window, background);
    setPalette(pal);
    setAutoFillBackground(background.isValid());
}

}  // namespace launcher
