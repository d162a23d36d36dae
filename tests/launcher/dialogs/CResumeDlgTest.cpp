// The resume question run modally as the main window runs it: answers by
// button, Enter and Escape, each exec ended by the test itself (with a
// deadline that ends it in any case).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "QtTestApp.h"
#include "launcher/dialogs/CDialogUnits.h"
#include "launcher/dialogs/CResumeDlg.h"

using launcher::CDialogUnits;
using launcher::CResumeDlg;

namespace {

QPushButton* Button(CResumeDlg& dialog, const QString& text) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

// Runs the dialog modally; `act` runs once it is on screen.
int RunWith(CResumeDlg& dialog, const std::function<void()>& act) {
    QTimer::singleShot(0, &dialog, [&] {
        if (QTest::qWaitForWindowExposed(&dialog))
            act();
    });
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });
    return dialog.exec();
}

}  // namespace

TEST(CDialogUnitsTest, ScaleWithTheFont) {
    const CDialogUnits units(6, 13);
    EXPECT_EQ(units.Size(216, 91), QSize(324, 148));
    EXPECT_EQ(units.Rect(31, 70, 54, 14), QRect(47, 114, 81, 23));
    EXPECT_EQ(units.X(0), 0);
    EXPECT_EQ(units.Y(8), 13);

    tvxtest::EnsureQtApp();
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(10);
    QFont large = small;
    large.setPixelSize(20);
    const CDialogUnits a(small), b(large);
    EXPECT_GT(b.BaseX(), a.BaseX());
    EXPECT_GT(b.BaseY(), a.BaseY());
    EXPECT_EQ(a.BaseY(), QFontMetrics(small).height());
}

TEST(CResumeDlgTest, TextsLayoutAndHiddenBox) {
    tvxtest::EnsureQtApp();
    CResumeDlg dialog(QStringLiteral("Halvard2"));
    EXPECT_EQ(dialog.FirstLine(), QStringLiteral("Halvard2 클라이언트를 다운 받습니다."));
    EXPECT_EQ(dialog.SecondLine(), QStringLiteral("이어받기 하시겠습니까?"));
    ASSERT_NE(Button(dialog, QStringLiteral("예")), nullptr);
    ASSERT_NE(Button(dialog, QStringLiteral("아니오")), nullptr);
    const CDialogUnits units(dialog.font());
    EXPECT_EQ(dialog.size(), units.Size(216, 91));
    EXPECT_EQ(Button(dialog, QStringLiteral("아니오"))->geometry(), units.Rect(132, 70, 54, 14));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));

    QCheckBox* box = dialog.findChild<QCheckBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("모든파일 적용"));
    RunWith(dialog, [&] {
        EXPECT_FALSE(box->isVisible());
        EXPECT_TRUE(box->isChecked());
        tvxtest::SaveScreenshot(dialog, "resume_dialog");
        dialog.done(0);
    });
}

TEST(CResumeDlgTest, AnswersByButtonAndKey) {
    tvxtest::EnsureQtApp();
    CResumeDlg dialog(QStringLiteral("Halvard2"));
    QPushButton* yes = Button(dialog, QStringLiteral("예"));
    QPushButton* no = Button(dialog, QStringLiteral("아니오"));
    ASSERT_TRUE(yes && no);
    const auto key = [&](Qt::Key k) { return [&dialog, k] { QTest::keyClick(&dialog, k); }; };
    const auto focusedKey = [&](QWidget* focus, Qt::Key k) {
        return [focus, k] {
            focus->setFocus();
            QTest::keyClick(focus, k);
        };
    };
    const struct {
        const char* what;
        std::function<void()> act;
        int resume;
    } cases[] = {
        {"아니오", [&] { QTest::mouseClick(no, Qt::LeftButton); }, 0},
        {"Escape after a 아니오", key(Qt::Key_Escape), 1},
        {"예", [&] { QTest::mouseClick(yes, Qt::LeftButton); }, 1},
        {"아니오 again", [&] { QTest::mouseClick(no, Qt::LeftButton); }, 0},
        {"Enter on the focused 아니오", focusedKey(no, Qt::Key_Return), 1},
        {"Escape on the focused 아니오", focusedKey(no, Qt::Key_Escape), 1},
        {"keypad Enter", key(Qt::Key_Enter), 1},
    };
    for (const auto& c : cases) {
        const int result = RunWith(dialog, c.act);
        EXPECT_NE(result, -1) << c.what << ": the dialog did not end";
        EXPECT_EQ(dialog.Resume(), c.resume) << c.what;
        EXPECT_EQ(dialog.ApplyToAll(), 1) << c.what;
        EXPECT_FALSE(dialog.isVisible()) << c.what;
    }
}
