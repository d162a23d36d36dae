#include "QtTestApp.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

namespace tvxtest {

void EnsureQtApp() {
    // Lives as long as the process and is never destroyed: destroyed by the
    // exit handlers, after Qt's own globals, it crashes once dialogs or
    // message boxes have been shown.
    static QApplication* app = nullptr;
    if (app)
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "launcher_tests";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
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
