#pragma once

class QWidget;

namespace launcher {

// Restores a minimised window (keeping it maximised when it was), shows it and
// asks the window system to bring it to the front.
void RestoreAndRaise(QWidget& window);

}  // namespace launcher
