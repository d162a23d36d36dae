// A launcher start-up with a placeholder main window, for the start-up tests.
// It takes the file-list URL from its first argument (or TVX_PROBE_URL) and
// reports on standard output, one line each, what a user would see: the
// message boxes ("MESSAGE <caption>|<text>"), the window running
// ("RUNNING"), and each activation with the window's minimised state before
// and after ("ACTIVATED <before> <after>"). It ends when standard input
// closes, or after TVX_PROBE_SECONDS (20 by default), so it never outlives
// its test for long.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "launcher/app/CTVXDownloaderApp.h"
#include "launcher/app/WindowActivation.h"

namespace {

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class PrintedMessageBox : public launcher::IMessageBox {
  public:
    launcher::MessageAnswer Show(std::string_view caption, std::string_view text,
                                 launcher::MessageButtons) override {
        Say("MESSAGE " + std::string(caption) + "|" + std::string(text));
        return launcher::MessageAnswer::kOk;
    }
};

class PlaceholderWindow : public launcher::IMainWindow {
  public:
    explicit PlaceholderWindow(bool minimised) : minimised_(minimised) {}

    int Run() override {
        window_.setWindowTitle(QApplication::applicationDisplayName());
        window_.resize(320, 200);
        if (minimised_)
            window_.showMinimized();
        else
            window_.show();
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, [&input] {
            char buffer[256];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
                input.setEnabled(false);
                QApplication::quit();
            }
        });
        const char* seconds = std::getenv("TVX_PROBE_SECONDS");
        QTimer::singleShot((seconds ? std::atoi(seconds) : 20) * 1000,
                           [] { QApplication::quit(); });
        QTimer::singleShot(0, [this] {
            Say("RUNNING " + QApplication::applicationDisplayName().toStdString() + " " +
                QApplication::organizationName().toStdString());
        });
        return QApplication::exec();
    }

    void Activate() override {
        const bool before = window_.isMinimized();
        launcher::RestoreAndRaise(window_);
        Say(std::string("ACTIVATED ") + (before ? "minimised" : "normal") + " " +
            (window_.isMinimized() ? "minimised" : "normal"));
    }

  private:
    bool minimised_;
    QWidget window_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    launcher::StartupSettings settings = launcher::CTVXDownloaderApp::BuiltinSettings();
    if (argc > 1)
        settings.fileListUrl = argv[1];
    else if (const char* url = std::getenv("TVX_PROBE_URL"))
        settings.fileListUrl = url;
    const bool minimised = std::getenv("TVX_PROBE_MINIMISED") != nullptr;

    PrintedMessageBox box;
    launcher::CTVXDownloaderApp startup(
        settings, box, [minimised] { return std::make_unique<PlaceholderWindow>(minimised); });
    return startup.Run();
}
