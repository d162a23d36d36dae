// tvx-launcher: the game downloader. It takes no arguments; everything it
// needs is built in. It shows the skinned window when a display is there and
// the terminal view otherwise; TVX_VIEW=window or TVX_VIEW=terminal chooses.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/app/BuiltinValues.h"
#include "launcher/app/CQtMessageBox.h"
#include "launcher/app/CTVXDownloaderApp.h"
#include "launcher/app/CTerminalView.h"
#include "launcher/app/QtTranslations.h"
#include "launcher/app/WindowView.h"
#include "platform/StreamInput.h"

namespace {

enum class ViewKind { kWindow, kTerminal, kInvalid };

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

ViewKind ChosenView() {
    const char* forced = std::getenv("TVX_VIEW");
    if (forced == nullptr || *forced == '\0')
        return HasDisplay() ? ViewKind::kWindow : ViewKind::kTerminal;
    const std::string_view value(forced);
    if (value == "window")
        return ViewKind::kWindow;
    if (value == "terminal")
        return ViewKind::kTerminal;
    return ViewKind::kInvalid;
}

// The start-up's own box on a terminal (another launcher already runs):
// printed, then acknowledged by any line or the end of input.
class StartupTerminalBox final : public launcher::IMessageBox {
  public:
    launcher::MessageAnswer Show(std::string_view caption, std::string_view text,
                                 launcher::MessageButtons) override {
        std::printf("[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                    static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
        return launcher::MessageAnswer::kOk;
    }
};

launcher::StartupSettings Settings(const launcher::DownloaderConfig& config) {
    return {config.fileListUrl, config.gameTitle, {}};
}

// The launcher takes no arguments, and Qt must not act on any either
// (-platform, -style, -reverse …): it sees the program's name alone.
struct ProgramNameOnly {
    explicit ProgramNameOnly(char* name) : argv{name, nullptr} {}
    int argc = 1;
    char* argv[2];
};

int RunTerminal(ProgramNameOnly& args, const launcher::DownloaderConfig& config) {
    QCoreApplication app(args.argc, args.argv);
    StartupTerminalBox box;
    launcher::CTVXDownloaderApp launcherApp(Settings(config), box, [&config] {
        return std::make_unique<launcher::CTerminalView>(config, platform::StandardInput(), stdout);
    });
    return launcherApp.Run();
}

}  // namespace

int main(int argc, char** argv) {
    static char fallbackName[] = "tvx-launcher";
    ProgramNameOnly args(argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName);
    const launcher::DownloaderConfig config = launcher::BuiltinDownloaderConfig();
    const ViewKind kind = ChosenView();
    if (kind == ViewKind::kInvalid) {
        std::fprintf(stderr, "tvx-launcher: TVX_VIEW must be window or terminal, not '%s'\n",
                     std::getenv("TVX_VIEW"));
        return 2;
    }
    if (kind == ViewKind::kTerminal)
        return RunTerminal(args, config);

    if (!launcher::HasWindowView()) {
        std::fprintf(stderr, "tvx-launcher: this build has no window view; using the terminal\n");
        return RunTerminal(args, config);
    }
    QApplication app(args.argc, args.argv);
    launcher::InstallQtTranslations();
    launcher::CQtMessageBox box;
    launcher::CTVXDownloaderApp launcherApp(Settings(config), box,
                                            [&config] { return launcher::MakeWindowView(config); });
    return launcherApp.Run();
}
