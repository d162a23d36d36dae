#pragma once

// Dialog layouts are given in dialog units, which scale with the dialog's
// font: a horizontal unit is a quarter of the font's average character
// width, a vertical unit an eighth of its height.

#include <QFont>
#include <QRect>
#include <QSize>

namespace launcher {

class CDialogUnits {
  public:
    explicit CDialogUnits(const QFont& font);
    // For tests and for a font already measured.
    CDialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }
    int X(int units) const;
    int Y(int units) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }
    QRect Rect(int x, int y, int width, int height) const {
        return {X(x), Y(y), X(width), Y(height)};
    }

  private:
    int baseX_;
    int baseY_;
};

}  // namespace launcher
