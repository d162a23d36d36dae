#include "launcher/dialogs/CNowLoading.h"

#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPalette>

#include "launcher/controls/CAnimatedPicture.h"
#include "launcher/dialogs/BuiltinResources.h"
#include "launcher/dialogs/CDialogUnits.h"

namespace launcher {

CNowLoading::CNowLoading(QWidget* parent, const QString& gif)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      gif_(gif.isEmpty() ? QString::fromLatin1(kWaitAnimation) : gif) {
    EnsureBuiltinResources();
    setModal(true);
    const CDialogUnits units(font());
    setFixedSize(units.Size(213, 86));

    picture_ = new CAnimatedPicture(this);
    picture_->setGeometry(units.Rect(90, 18, 20, 20));

    text_ = new QLabel(QStringLiteral("다운로드 받은 파일을 검사하고 설치를 실행중입니다."), this);
    text_->setGeometry(units.Rect(8, 67, 195, 8));
    text_->setAlignment(Qt::AlignCenter);
    QPalette textPalette = text_->palette();
    textPalette.setColor(QPalette::WindowText, Qt::black);
    text_->setPalette(textPalette);
    text_->setAutoFillBackground(false);
}

CNowLoading::~CNowLoading() = default;

QString CNowLoading::Text() const {
    return text_->text();
}

void CNowLoading::PostQuit() {
    QMetaObject::invokeMethod(
        this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}

void CNowLoading::showEvent(QShowEvent* event) {
    // Without its picture the dialog still says what is going on.
    if (picture_->Load(gif_))
        picture_->Draw();
    QDialog::showEvent(event);
}

void CNowLoading::done(int result) {
    picture_->Stop();
    picture_->UnLoad();
    QDialog::done(result);
}

void CNowLoading::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
}

}  // namespace launcher
