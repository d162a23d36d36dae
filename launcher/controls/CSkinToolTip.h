#pragma once

// A tooltip window for one tool (a child control and its tip text). The
// owner passes its mouse and keyboard events through RelayEvent before its
// own handling; the tip shows after the pointer has rested on the tool for
// the initial delay, and hides again when the pointer leaves, on a click or
// key, or after the pop-up time.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QEvent;

namespace launcher {

class CSkinToolTip : public QWidget {
    Q_OBJECT

  public:
    // A top-level pop-up of its own, kept above other windows, with the
    // arrow cursor; parent is the window it belongs to.
    explicit CSkinToolTip(QWidget* parent);

    // Longest line of the tip, in pixels; longer texts wrap. 0 or less is
    // no limit.
    void SetMaxTipWidth(int width);
    // The one tool: a later call replaces it. The tool's own events are
    // relayed from then on without the owner's help.
    void AddTool(QWidget* tool, const QString& text);
    void SetDelays(int initialMs, int popMs);
    const QString& TipText() const { return text_; }

    // Looks at an event of the owner's or of one of its children before the
    // owner handles it; never consumes it.
    void RelayEvent(QObject* watched, QEvent* event);

    QSize sizeHint() const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void PointerAt(const QPoint& global);
    void ShowTip();
    void HideTip();
    QRect TextRect(int maxWidth) const;

    QPointer<QWidget> tool_;
    QString text_;
    int maxWidth_ = 0;
    QPoint lastPointer_;
    QTimer showTimer_;
    QTimer popTimer_;
};

}  // namespace launcher
