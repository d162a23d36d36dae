// Message boxes asked for from the installer thread appear on the
// user-interface thread, without an owner, and return the pressed button.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "QtTestApp.h"
#include "launcher/app/CQtMessageBox.h"
#include "launcher/app/QtTranslations.h"

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

// On a Korean desktop a question shows the information icon and Qt's own
// Korean button texts; the other boxes have no icon.
TEST(CQtMessageBoxTest, BoxesSpeakTheUsersLanguageAndQuestionsShowTheInformationIcon) {
    tvxtest::EnsureQtApp();
    ASSERT_TRUE(InstallQtTranslations(QLocale(QLocale::Korean, QLocale::SouthKorea)))
        << "Qt's Korean translations are missing (qt6-translations-l10n)";
    const struct {
        MessageButtons buttons;
        QMessageBox::Icon icon;
        std::vector<std::pair<QMessageBox::StandardButton, QString>> texts;
        const char* screenshot;
    } cases[] = {
        {MessageButtons::kYesNo,
         QMessageBox::Information,
         {{QMessageBox::Yes, QStringLiteral("예")}, {QMessageBox::No, QStringLiteral("아니요")}},
         "message-box-yes-no-korean"},
        {MessageButtons::kRetryCancel,
         QMessageBox::NoIcon,
         {{QMessageBox::Retry, QStringLiteral("다시 시도")},
          {QMessageBox::Cancel, QStringLiteral("취소")}},
         "message-box-retry-cancel-korean"},
        {MessageButtons::kOk,
         QMessageBox::NoIcon,
         {{QMessageBox::Ok, QStringLiteral("확인")}},
         "message-box-ok-korean"},
    };
    CQtMessageBox boxes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.screenshot);
        QMessageBox::Icon icon = QMessageBox::Critical;
        std::vector<QString> shown;
        std::string screenshot;
        QMetaObject::invokeMethod(
            QApplication::instance(),
            [&] {
                QMessageBox* box = nullptr;
                QElapsedTimer timer;
                timer.start();
                while (!box && timer.elapsed() < 5000) {
                    box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    if (!box)
                        QApplication::processEvents(QEventLoop::AllEvents, 20);
                }
                if (!box)
                    return;
                icon = box->icon();
                for (const auto& [button, text] : c.texts) {
                    // The mnemonic is Qt's own: "예(&Y)".
                    QString label = box->button(button) ? box->button(button)->text() : QString();
                    shown.push_back(label.remove(QRegularExpression(QStringLiteral("\\(&.\\)|&"))));
                }
                screenshot = tvxtest::SaveScreenshot(*box, c.screenshot);
                box->button(c.texts.front().first)->click();
            },
            Qt::QueuedConnection);
        boxes.Show("Halvard2", "다운로드가 완료 되었습니다.\n지금 실행 하시겠습니까?", c.buttons);
        EXPECT_EQ(icon, c.icon);
        ASSERT_EQ(shown.size(), c.texts.size());
        for (size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(shown[i].toStdString(), c.texts[i].second.toStdString());
        EXPECT_FALSE(screenshot.empty());
        std::printf("screenshot: %s\n", screenshot.c_str());
    }
    InstallQtTranslations(QLocale::c());
}
