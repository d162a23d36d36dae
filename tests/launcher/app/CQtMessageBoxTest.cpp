// Message boxes asked for from the installer thread appear on the
// user-interface thread, without an owner, and return the pressed button.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "QtTestApp.h"
#include "launcher/app/CQtMessageBox.h"

using namespace launcher;

namespace {

// Waits (bounded) for a message box, checks where it lives, and presses button.
QMessageBox* AnswerBox(QMessageBox::StandardButton button) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (QAbstractButton* pressed = box->button(button))
                pressed->click();
            return box;
        }
    }
    return nullptr;
}

}  // namespace

TEST(CQtMessageBoxTest, BoxFromAnotherThreadShowsOnTheUiThreadWithoutOwner) {
    tvxtest::EnsureQtApp();
    QWidget owner;
    CQtMessageBox boxes(&owner);
    std::atomic<int> answer{-1};
    std::thread installer([&] {
        answer = static_cast<int>(boxes.Show(
            "Halvard2", "해당 경로(NULL)에 파일이 존재 하지 않습니다.", MessageButtons::kYesNo));
    });
    // The box runs its own loop on this thread; a timer there reads and answers it.
    QWidget* parent = &owner;
    QThread* thread = nullptr;
    QString title, text;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        watcher.stop();
        parent = box->parentWidget();
        thread = box->thread();
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::No)->click();
    });
    watcher.start(10);
    QElapsedTimer timer;
    timer.start();
    while (answer == -1 && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    installer.join();
    EXPECT_EQ(answer, static_cast<int>(MessageAnswer::kNo));
    EXPECT_EQ(thread, QApplication::instance()->thread());
    EXPECT_EQ(parent, nullptr);
    EXPECT_EQ(title.toStdString(), "Halvard2");
    EXPECT_EQ(text.toStdString(), "해당 경로(NULL)에 파일이 존재 하지 않습니다.");
}

TEST(CQtMessageBoxTest, BoxOnTheUiThreadBelongsToItsOwner) {
    tvxtest::EnsureQtApp();
    QWidget owner;
    CQtMessageBox boxes(&owner);
    QWidget* parent = nullptr;
    QMetaObject::invokeMethod(
        QApplication::instance(),
        [&] {
            if (QMessageBox* box = AnswerBox(QMessageBox::Retry))
                parent = box->parentWidget();
        },
        Qt::QueuedConnection);
    EXPECT_EQ(boxes.Show("Halvard2", "해당 디스크(/d/)의 공간이 부족(1.00 GB) 합니다.",
                         MessageButtons::kRetryCancel),
              MessageAnswer::kRetry);
    EXPECT_EQ(parent, &owner);
}
