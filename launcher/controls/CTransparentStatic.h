#pragma once

// A text label without a background of its own: the parent's picture shows
// around the letters. Changing the text repaints the parent under the label
// at once, so no trace of the old text stays behind.

#include <QColor>
#include <QLabel>
#include <QString>

namespace launcher {

class CTransparentStatic : public QLabel {
    Q_OBJECT

  public:
    static constexpr QRgb kTextColor = 0xFFEFEFEF;

    explicit CTransparentStatic(QWidget* parent = nullptr);
    explicit CTransparentStatic(const QString& text, QWidget* parent = nullptr);

    void SetText(const QString& text);
    // The owner decides the colours: a text colour, and an opaque background
    // when one is given (an invalid colour keeps the label transparent).
    void SetColors(QColor text, QColor background = QColor());
};

}  // namespace launcher
