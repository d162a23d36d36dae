#pragma once

// The Qt window view of the main window controller, as start-up makes it.
// The window (launcher/window/) implements it; a build without the window
// gets a stand-in that makes none.

#include <memory>

#include "launcher/app/IMainWindow.h"
#include "launcher/core/DownloaderConfig.h"

namespace launcher {

// Whether this build has the window view.
bool HasWindowView();
// Needs the QApplication. nullptr when this build has no window view.
std::unique_ptr<IMainWindow> MakeWindowView(const DownloaderConfig& config);

}  // namespace launcher
