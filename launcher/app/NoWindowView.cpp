// Linked instead of the Qt window when the build has none.
#include "launcher/app/WindowView.h"

namespace launcher {

bool HasWindowView() {
    return false;
}

std::unique_ptr<IMainWindow> MakeWindowView(const DownloaderConfig&) {
    return nullptr;
}

}  // namespace launcher
