// The folder dialog on the offscreen platform: its title, the status line
// following the selection, and a screenshot of both.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <functional>
#include <string>

#include "QtTestApp.h"
#include "launcher/dialogs/CFolderChooser.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

using namespace launcher;

namespace {

// 1 GiB free anywhere, 5 GiB on the "disk" of the Korean folder.
int64_t FreeByFolder(const std::string& path) {
    return path.find("다운로드") != std::string::npos ? 5LL << 30 : 1LL << 30;
}

bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace

TEST(CFolderChooserTest, StatusLineFollowsTheSelection) {
    tvxtest::EnsureQtApp();
    platform::SetFreeBytesProbe(&FreeByFolder);
    tvxtest::TempDir dir;
    ASSERT_TRUE(tvxtest::MakeDirs(dir.Path() + "games"));
    ASSERT_TRUE(tvxtest::MakeDirs(dir.Path() + "다운로드"));

    CFolderDialog dialog(nullptr, dir.Path() + "games/", 3LL << 30);
    dialog.resize(640, 420);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle().toStdString(), "최소 3.00 GB의 용량이 필요합니다.");
    EXPECT_EQ(dialog.StatusText().toStdString(),
              "최소 3.00 GB의 용량이 필요합니다.\n남은용량 : 1.00 GB");
    EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));

    // The current folder starts selected in its parent's listing.
    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    auto* model = qobject_cast<QFileSystemModel*>(list->model());
    ASSERT_NE(model, nullptr);
    const QString korean = QString::fromStdString(dir.Path() + "다운로드");
    ASSERT_TRUE(SpinUntil([&] { return model->index(korean).isValid(); }));
    const QStringList selected = dialog.selectedFiles();
    ASSERT_FALSE(selected.isEmpty());
    EXPECT_TRUE(selected.front().endsWith(QStringLiteral("/games")))
        << selected.front().toStdString();

    // Moving to the other folder updates the line at once.
    list->setCurrentIndex(model->index(korean));
    ASSERT_TRUE(SpinUntil([&] { return dialog.StatusText().endsWith(QStringLiteral("5.00 GB")); }))
        << dialog.StatusText().toStdString();

    const std::string shot = tvxtest::SaveScreenshot(dialog, "folder_chooser");
    EXPECT_FALSE(shot.empty());
    platform::SetFreeBytesProbe(nullptr);
}
