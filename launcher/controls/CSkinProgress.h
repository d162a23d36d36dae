#pragma once

// A progress bar filled with a tiled picture. With a picture, only the filled
// part is painted (the rest shows whatever lies beneath, usually the skin's
// own track) and nothing is ever erased; without one it is the standard bar.

#include <QFont>
#include <QPixmap>
#include <QProgressBar>
#include <QString>

namespace launcher {

class CSkinProgress : public QProgressBar {
    Q_OBJECT

  public:
    explicit CSkinProgress(QWidget* parent = nullptr);

    // A null picture goes back to the standard bar.
    void SetBitmap(const QPixmap& bar, bool repaint = true);
    bool HasBitmap() const { return !bar_.isNull(); }
    void SetRange(int low, int high);
    // Clamped into the range.
    void SetPos(int position);
    int GetPos() const { return position_; }
    int Low() const { return low_; }
    int High() const { return high_; }
    // Kept for the owner; the bar itself draws no text.
    void SetTextFormat(const QString& format) { textFormat_ = format; }
    const QString& TextFormat() const { return textFormat_; }
    void SetBarFont(const QFont& font) { barFont_ = font; }
    const QFont& BarFont() const { return barFont_; }

    // Whole percent of the range covered by the position, 0 to 100.
    int Percent() const;
    // Width of the fill inside the one-pixel edge: never the whole inner
    // width, so the last inner column stays unpainted.
    static int FillWidth(int innerWidth, int percent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int Span() const;

    QPixmap bar_;
    int low_ = 0;
    int high_ = 100;
    int position_ = 0;
    QString textFormat_;
    QFont barFont_;
};

}  // namespace launcher
