#include "QtTestApp.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>
#include <memory>

namespace tvxtest {

void EnsureQtApp() {
    static std::unique_ptr<QApplication> app;
    if (app)
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "launcher_tests";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
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
