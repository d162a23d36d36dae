#include "launcher/dialogs/CDialogUnits.h"

#include <QFontMetrics>
#include <cmath>

namespace launcher {

namespace {

// a * b / c rounded half away from zero, as dialog templates are scaled.
int MulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the Latin letters, rounded.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (letters / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1)
        baseX_ = 1;
    if (baseY_ < 1)
        baseY_ = 1;
}

int CDialogUnits::X(int units) const {
    return MulDiv(units, baseX_, 4);
}

int CDialogUnits::Y(int units) const {
    return MulDiv(units, baseY_, 8);
}

}  // namespace launcher
