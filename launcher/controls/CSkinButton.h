#pragma once

// A push button drawn entirely by our own paint code from up to four
// pictures (normal, mouse over, pressed, disabled), so that the skin looks
// the same on every desktop style. Pixels of a picture's transparent colour
// show the button's background: a fill, or once transparent drawing is on,
// the parent's own picture under the button.

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>
#include <QString>
#include <array>

namespace launcher {

enum class SkinButtonResult : int {
    Ok = 0,
    InvalidPicture = 1,  // a picture could not be read or measured
    FailedMask = 2,      // its mask could not be made
};

class CSkinButton : public QPushButton {
    Q_OBJECT

  public:
    enum class Slot : int { Normal = 0, Over = 1, Pressed = 2, Disabled = 3 };

    // The skin's transparent colour.
    static constexpr QRgb kMagenta = 0xFFFF00FF;

    explicit CSkinButton(QWidget* parent = nullptr);
    ~CSkinButton() override;

    // Gives the four pictures, each with its own transparent colour; a null
    // picture leaves its slot empty (it then draws nothing). On failure every
    // slot is cleared. Repaints.
    SkinButtonResult SetBitmaps(const QImage& normal, QRgb normalKey, const QImage& over,
                                QRgb overKey, const QImage& pressed, QRgb pressedKey,
                                const QImage& disabled, QRgb disabledKey);
    // The same from picture files; an empty path leaves its slot empty, a
    // file that is missing or no picture gives InvalidPicture.
    SkinButtonResult LoadBitmaps(const QString& normal, const QString& over, const QString& pressed,
                                 const QString& disabled, QRgb key = kMagenta);
    bool HasBitmap(Slot slot) const;

    // From the next turn of the event loop on, the parent's picture under
    // the button (taken once, then kept) is the background of the button;
    // until then the background colour of the state fills it.
    void DrawTransparent(bool repaint = true);
    // Takes the size of the normal picture without moving; the picture then
    // starts at the button's corner.
    void SizeToContent();

    // Check-box mode: a click toggles the check state before clicked() is
    // emitted. Check state calls do nothing outside it.
    void SetCheckBox(bool on);
    bool IsCheckBox() const { return checkBox_; }
    int GetCheck() const;
    void SetCheck(int check, bool repaint = true);

    void SetFlat(bool on, bool repaint = true);
    void SetDrawBorder(bool on, bool repaint = true);
    void SetShowDisabledBitmap(bool on, bool repaint = true);
    void SetFlatFocus(bool on, bool repaint = true);
    void SetImageOrigin(QPoint origin) { imageOrigin_ = origin; }
    void SetPressedImageOffset(QPoint offset) { pressedOffset_ = offset; }
    // Background and text colours of the normal, mouse-over and focus states.
    void SetColors(QColor background, QColor text);
    void SetOverColors(QColor background, QColor text);
    void SetFocusColors(QColor background, QColor text);

    bool IsMouseOver() const { return mouseOver_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Picture {
        QPixmap pixmap;  // carries its mask
        QRgb key = kMagenta;
    };

    void ClearBitmaps();
    void BeginMouseOver();
    void EndMouseOver();
    void SaveParentBackground();
    const Picture* PictureToDraw(bool pressed) const;

    std::array<Picture, 4> pictures_;
    bool mouseOver_ = false;
    bool checkBox_ = false;
    bool drawBorder_ = true;
    bool transparent_ = false;
    bool showDisabled_ = true;
    bool flatFocus_ = false;
    bool savingBackground_ = false;
    bool backgroundDue_ = false;
    QPixmap parentBackground_;
    QPoint imageOrigin_{3, 3};
    QPoint pressedOffset_{1, 1};
    QColor normalBack_{Qt::white};
    QColor normalText_{0x66, 0x66, 0x66};
    QColor overBack_{Qt::white};
    QColor overText_{0x66, 0x66, 0x66};
    QColor focusBack_{Qt::white};
    QColor focusText_{0x66, 0x66, 0x66};
};

}  // namespace launcher
