#include "launcher/dialogs/CResumeDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "launcher/dialogs/CDialogUnits.h"

namespace launcher {

CResumeDlg::CResumeDlg(const QString& gameTitle, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setModal(true);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const CDialogUnits units(font());
    setFixedSize(units.Size(216, 91));

    firstLine_ = new QLabel(QStringLiteral("%1 클라이언트를 다운 받습니다.").arg(gameTitle), this);
    firstLine_->setGeometry(units.Rect(7, 17, 202, 17));
    firstLine_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    firstLine_->setWordWrap(true);

    secondLine_ = new QLabel(QStringLiteral("이어받기 하시겠습니까?"), this);
    secondLine_->setGeometry(units.Rect(65, 36, 86, 8));

    yes_ = new QPushButton(QStringLiteral("예"), this);
    yes_->setGeometry(units.Rect(31, 70, 54, 14));
    no_ = new QPushButton(QStringLiteral("아니오"), this);
    no_->setGeometry(units.Rect(132, 70, 54, 14));
    // Enter must not press whichever button has the focus: it ends the
    // dialog with the answers as they are.
    for (QPushButton* button : {yes_, no_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(yes_, &QPushButton::clicked, this, &CResumeDlg::OnYes);
    connect(no_, &QPushButton::clicked, this, &CResumeDlg::OnNo);

    allFiles_ = new QCheckBox(QStringLiteral("모든파일 적용"), this);
    allFiles_->setGeometry(units.Rect(72, 53, 66, 10));
    allFiles_->setChecked(true);
    allFiles_->hide();
}

QString CResumeDlg::FirstLine() const {
    return firstLine_->text();
}

QString CResumeDlg::SecondLine() const {
    return secondLine_->text();
}

void CResumeDlg::showEvent(QShowEvent* event) {
    // Every showing asks afresh: an answer given last time is not a default.
    resume_ = 1;
    applyToAll_ = 1;
    allFiles_->setChecked(applyToAll_ != 0);
    QDialog::showEvent(event);
}

void CResumeDlg::OnYes() {
    resume_ = 1;
    close();
}

void CResumeDlg::OnNo() {
    resume_ = 0;
    close();
}

void CResumeDlg::closeEvent(QCloseEvent* event) {
    Finish();
    event->accept();
}

void CResumeDlg::Finish() {
    applyToAll_ = allFiles_->isChecked() ? 1 : 0;
    done(QDialog::Accepted);
}

void CResumeDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            done(QDialog::Accepted);
            break;
        case Qt::Key_Escape:
            done(QDialog::Rejected);
            break;
        default:
            QDialog::keyPressEvent(event);
            break;
    }
}

void CResumeDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // No caption and no frame from the window system: a thin border of our
    // own.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace launcher
