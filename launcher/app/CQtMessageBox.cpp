#include "launcher/app/CQtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace launcher {
namespace {

QString FromNarrow(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MessageAnswer CQtMessageBox::Show(std::string_view caption, std::string_view text,
                                  MessageButtons buttons) {
    const QString qCaption = FromNarrow(caption);
    const QString qText = FromNarrow(text);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return buttons == MessageButtons::kOk ? MessageAnswer::kOk : MessageAnswer::kCancel;
    if (QThread::currentThread() == app->thread())
        return ShowHere(qCaption, qText, buttons, owner_.data());
    // Off the user-interface thread a box has no owner.
    MessageAnswer answer = MessageAnswer::kCancel;
    QMetaObject::invokeMethod(
        app, [&] { answer = ShowHere(qCaption, qText, buttons, nullptr); },
        Qt::BlockingQueuedConnection);
    return answer;
}

MessageAnswer CQtMessageBox::ShowHere(const QString& caption, const QString& text,
                                      MessageButtons buttons, QWidget* owner) {
    QMessageBox::StandardButtons shown = QMessageBox::Ok;
    if (buttons == MessageButtons::kYesNo)
        shown = QMessageBox::Yes | QMessageBox::No;
    else if (buttons == MessageButtons::kRetryCancel)
        shown = QMessageBox::Retry | QMessageBox::Cancel;
    // A question carries the information icon; the other boxes none.
    const QMessageBox::Icon icon =
        buttons == MessageButtons::kYesNo ? QMessageBox::Information : QMessageBox::NoIcon;
    QMessageBox box(icon, caption, text, shown, owner);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::kYes;
        case QMessageBox::No:
            return MessageAnswer::kNo;
        case QMessageBox::Retry:
            return MessageAnswer::kRetry;
        case QMessageBox::Ok:
            return MessageAnswer::kOk;
        default:
            break;
    }
    // Closed with Escape or the window's close button.
    return buttons == MessageButtons::kYesNo ? MessageAnswer::kNo
           : buttons == MessageButtons::kOk  ? MessageAnswer::kOk
                                             : MessageAnswer::kCancel;
}

}  // namespace launcher
