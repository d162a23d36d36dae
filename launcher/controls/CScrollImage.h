#pragma once

// A picture taller than its control, shown from a vertical offset; white
// pixels of the picture let the background show through.

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

namespace launcher {

class CScrollImage : public QWidget {
    Q_OBJECT

  public:
    explicit CScrollImage(QWidget* parent = nullptr);

    // From a file or a built-in resource path (":/..."); false when it is no
    // picture, and the control then shows nothing. Enables the control.
    bool SetBitmap(const QString& path);
    bool SetBitmap(const QImage& picture);
    QSize PictureSize() const { return pictureSize_; }
    // Rows of the picture above the control's top edge; repaints.
    void SetVerticalOffset(int offset);
    int VerticalOffset() const { return offset_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap picture_;
    QSize pictureSize_;
    int offset_ = 0;
};

}  // namespace launcher
