#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>
#include <memory>

namespace tvxtest {
namespace {

// Owns the application and ends it when the test run ends, still inside
// main: destroyed later by the exit handlers, after Qt's own globals, it
// crashes once dialogs or message boxes have been shown.
class QtAppEnvironment : public testing::Environment {
  public:
    QtAppEnvironment() {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[16] = "launcher_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

}  // namespace

void EnsureQtApp() {
    static bool made = false;
    if (made)
        return;
    made = true;
    // Google Test owns registered environments and tears them down at the end.
    testing::AddGlobalTestEnvironment(new QtAppEnvironment);
}

std::string SaveScreenshot(QWidget& widget, const std::string& name) {
    const QString dir = QStringLiteral(TVX_SCREENSHOT_DIR);
    if (!QDir().mkpath(dir))
        return {};
    const QString path = dir + "/" + QString::fromStdString(name) + ".png";
    if (!widget.grab().save(path, "PNG"))
        return {};
    return path.toStdString();
}

}  // namespace tvxtest
