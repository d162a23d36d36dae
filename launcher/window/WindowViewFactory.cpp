// The window view that start-up makes when this build has it.
#include "launcher/app/WindowView.h"
#include "launcher/window/CTVXDownloaderDlg.h"

namespace launcher {

bool HasWindowView() {
    return true;
}

std::unique_ptr<IMainWindow> MakeWindowView(const DownloaderConfig& config) {
    return std::make_unique<CTVXDownloaderDlg>(config);
}

}  // namespace launcher
