#pragma once

// One QApplication for a widget test process, on Qt's offscreen platform, and
// the screenshots every widget test saves for a look by eye.

#include <string>

class QWidget;

namespace tvxtest {

// Creates the application on first use (offscreen unless QT_QPA_PLATFORM is
// set) and keeps it for the life of the process.
void EnsureQtApp();

// Grabs the widget as it is drawn now and saves it as <name>.png in the
// build's screenshot folder; returns the file's path, empty on failure.
std::string SaveScreenshot(QWidget& widget, const std::string& name);

}  // namespace tvxtest
