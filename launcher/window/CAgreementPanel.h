#pragma once

// The data-collection notice of the high-speed download: a tall picture
// scrolled by the mouse wheel and a scroll bar, with the consent check box
// and its text. It lies below the window's visible 640x380 area, so its
// check box stays checked and the user never sees it; it is laid out all the
// same, as the window's own part of the page.

#include <QRect>

class QCheckBox;
class QFont;
class QScrollBar;
class QWidget;

namespace launcher {

class CScrollImage;
class CTransparentStatic;

class CAgreementPanel {
  public:
    // What the window repaints after every scroll move.
    static constexpr QRect kPanelRect{4, 384, 592, 100};
    static constexpr int kMaxOffset = 345;
    static constexpr int kWheelStep = 4;
    static constexpr int kLineStep = 1;
    static constexpr int kPageStep = 8;

    // Creates the parts as children of window, hidden until Layout.
    explicit CAgreementPanel(QWidget& window);

    // Places the parts, loads the built-in notice picture, checks and shows
    // the check box and its text.
    void Layout(const QFont& textFont);

    // A wheel turn over the window, in Qt's eighths of a degree (120 a
    // notch); partial notches of fine-grained wheels add up.
    void Wheel(int angleDelta);
    void ScrollTo(int offset);
    int Offset() const;

    // The parts belong to the window; the panel only places and drives them.
    QCheckBox& CheckBox() const { return *check_; }
    CTransparentStatic& Text() const { return *text_; }
    CScrollImage& Picture() const { return *picture_; }
    QScrollBar& ScrollBar() const { return *bar_; }

  private:
    QWidget& window_;
    CScrollImage* picture_ = nullptr;
    QCheckBox* check_ = nullptr;
    CTransparentStatic* text_ = nullptr;
    QScrollBar* bar_ = nullptr;
    int wheelRemainder_ = 0;
};

}  // namespace launcher
