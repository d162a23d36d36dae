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

std::unique_ptr<QApplication>& App() {
    static std::unique_ptr<QApplication> app;
    return app;
}

// Ends the application when the tests are over, while main() still runs:
// left to the exit handlers, it would be destroyed after Qt's own globals
// that were made once it existed, and crash on the way out.
class QtAppEnd : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest&) override { App().reset(); }
};

}  // namespace

void EnsureQtApp() {
    std::unique_ptr<QApplication>& app = App();
    if (app)
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "launcher_tests";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
    // The listener list owns the listener.
    testing::UnitTest::GetInstance()->listeners().Append(std::make_unique<QtAppEnd>().release());
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
