#include "launcher/app/WindowActivation.h"

#include <QWidget>

namespace launcher {

void RestoreAndRaise(QWidget& window) {
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace launcher
