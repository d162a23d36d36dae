#include "launcher/window/CAgreementPanel.h"

#include <QCheckBox>
#include <QFont>
#include <QScrollBar>
#include <QWidget>

#include "launcher/controls/CScrollImage.h"
#include "launcher/controls/CTransparentStatic.h"
#include "launcher/dialogs/BuiltinResources.h"

namespace launcher {
namespace {

constexpr int kWheelNotch = 120;
constexpr int kScrollBarWidth = 16;
constexpr char kConsentText[] = "위의 개인정보 수집 및 이용에 동의합니다.";

}  // namespace

CAgreementPanel::CAgreementPanel(QWidget& window) : window_(window) {
    picture_ = new CScrollImage(&window);
    check_ = new QCheckBox(&window);
    text_ = new CTransparentStatic(QString::fromUtf8(kConsentText), &window);
    bar_ = new QScrollBar(Qt::Vertical, &window);
    for (QWidget* part : {static_cast<QWidget*>(picture_), static_cast<QWidget*>(check_),
                          static_cast<QWidget*>(text_), static_cast<QWidget*>(bar_)})
        part->hide();

    bar_->setRange(0, kMaxOffset);
    bar_->setSingleStep(kLineStep);
    bar_->setPageStep(kPageStep);
    QObject::connect(bar_, &QScrollBar::valueChanged, picture_, [this](int offset) {
        picture_->SetVerticalOffset(offset);
        window_.update(kPanelRect);
    });
}

void CAgreementPanel::Layout(const QFont& textFont) {
    EnsureBuiltinResources();
    picture_->setGeometry(kPanelRect);
    picture_->SetBitmap(QString::fromLatin1(kAgreementPicture));
    picture_->show();
    bar_->setGeometry(kPanelRect.right() + 1, kPanelRect.top(), kScrollBarWidth,
                      kPanelRect.height());
    bar_->show();

    check_->move(120, 487);
    check_->adjustSize();
    check_->setChecked(true);
    check_->show();
    text_->setFont(textFont);
    text_->SetColors(Qt::black);
    text_->move(135, 493);
    text_->adjustSize();
    text_->show();
}

void CAgreementPanel::Wheel(int angleDelta) {
    wheelRemainder_ += angleDelta;
    const int notches = wheelRemainder_ / kWheelNotch;
    wheelRemainder_ -= notches * kWheelNotch;
    if (notches != 0)
        ScrollTo(Offset() - notches * kWheelStep);  // turned away from the user: up
}

void CAgreementPanel::ScrollTo(int offset) {
    // The bar clamps into its range and tells the picture.
    bar_->setValue(offset);
}

int CAgreementPanel::Offset() const {
    return bar_->value();
}

}  // namespace launcher
