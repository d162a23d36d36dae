#pragma once

// A picture control that plays a GIF: frames and their delays come from Qt's
// image reader, one frame after another on a timer of the user-interface
// thread. Each frame stays for its delay x 10 ms (100 ms for a delay of 4 or
// less, which many files use to mean "as fast as possible"); after the last
// frame the picture is cleared with the button-face colour and the sequence
// starts again.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class QImageReader;

namespace launcher {

class CAnimatedPicture : public QWidget {
    Q_OBJECT

  public:
    explicit CAnimatedPicture(QWidget* parent = nullptr);
    ~CAnimatedPicture() override;

    // A GIF from a file or a built-in resource (":/..."); anything else, or
    // a GIF without a readable frame, loads nothing and gives false.
    bool Load(const QString& path);
    bool Load(const QByteArray& bytes);
    // Shows the first frame (the control takes the picture's size at its
    // place) and, with more than one frame, starts the animation. False when
    // nothing is loaded.
    bool Draw();
    // Ends the animation; the current frame stays.
    void Stop();
    // Stops and releases the frames; the control then shows nothing.
    void UnLoad();

    int FrameCount() const { return static_cast<int>(frames_.size()); }
    // The frame on show; -1 while cleared or before Draw.
    int CurrentFrame() const { return current_; }
    bool IsAnimating() const { return timer_.isActive(); }
    // The stored delay of a frame, in hundredths of a second.
    int FrameDelay(int index) const { return frames_.at(static_cast<size_t>(index)).delayCs; }
    // How long a frame with this stored delay stays.
    static int FrameWaitMs(int delayCs) { return delayCs <= 4 ? 100 : delayCs * 10; }

    QSize sizeHint() const override;

  signals:
    // A new frame is on show; -1 when the picture has been cleared.
    void FrameShown(int index);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Frame {
        QImage image;
        int delayCs = 0;
    };

    bool LoadFrom(QImageReader& reader);
    void Show(int index);
    void Step();

    std::vector<Frame> frames_;
    int current_ = -1;
    QTimer timer_;
};

}  // namespace launcher
