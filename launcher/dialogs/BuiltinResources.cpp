#include "launcher/dialogs/BuiltinResources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE names a function of the global namespace.
static void InitLauncherResources() {
    Q_INIT_RESOURCE(launcher);
}

namespace launcher {

void EnsureBuiltinResources() {
    static std::once_flag once;
    std::call_once(once, InitLauncherResources);
}

}  // namespace launcher
