#include "launcher/app/CTVXDownloaderApp.h"

#include <QGuiApplication>

#include "launcher/app/CSingleInstance.h"
#include "launcher/core/InstanceName.h"
#include "platform/PrivateFolder.h"
#include "tvx/BuiltinConfig.h"

namespace launcher {

StartupSettings CTVXDownloaderApp::BuiltinSettings() {
    return {tvx::config::kFileListUrl, tvx::config::kGameTitle, {}};
}

CTVXDownloaderApp::CTVXDownloaderApp(StartupSettings settings, IMessageBox& box,
                                     MainWindowFactory makeWindow)
    : settings_(std::move(settings)), box_(box), makeWindow_(std::move(makeWindow)) {}

int CTVXDownloaderApp::Run() {
    QCoreApplication::setOrganizationName(QString::fromUtf8(kOrganisationName));

    const std::string runtime =
        settings_.runtimeFolder.empty() ? platform::UserRuntimeFolder() : settings_.runtimeFolder;
    CSingleInstance instance(SingleInstanceName(settings_.fileListUrl), runtime);
    if (instance.Claim() == LockResult::kHeld) {
        if (box_.Show(settings_.gameTitle, kAlreadyRunningText, MessageButtons::kOk) ==
            MessageAnswer::kOk)
            instance.AskFirstToActivate();
        return 0;
    }

    // No other launcher, or the lock could not be used at all: run as the
    // only one.
    std::unique_ptr<IMainWindow> window = makeWindow_ ? makeWindow_() : nullptr;
    if (!window)
        return 1;
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(settings_.gameTitle.c_str()));
    instance.SetActivateHandler([w = window.get()] { w->Activate(); });
    const int status = window->Run();
    instance.SetActivateHandler(nullptr);
    return status;
}

}  // namespace launcher
