#include "platform/WorkingFolder.h"

#include <unistd.h>

#include <climits>

#include "platform/Paths.h"

namespace platform {

std::string WorkingFolder() {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd))
        return {};
    return WithTrailingSlash(cwd);
}

}  // namespace platform
