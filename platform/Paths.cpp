#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

std::string FromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? WithTrailingSlash(value) : std::string();
}

}  // namespace

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder.push_back('/');
    return folder;
}

std::string HomeFolder() {
    std::string home = FromEnv("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return WithTrailingSlash(pw->pw_dir);
    return {};
}

std::string AppDataFolder() {
    // Only the environment counts here: with neither variable set there is no
    // per-user data folder, and callers fall back to the executable's folder.
    std::string folder = FromEnv("XDG_DATA_HOME");
    if (!folder.empty())
        return folder;
    const std::string home = FromEnv("HOME");
    return home.empty() ? std::string() : home + ".local/share/";
}

std::string ConfigFolder() {
    std::string folder = FromEnv("XDG_CONFIG_HOME");
    if (!folder.empty())
        return folder;
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + ".config/";
}

std::string TempFolder() {
    std::string folder = FromEnv("TMPDIR");
    return folder.empty() ? std::string("/tmp/") : folder;
}

std::string CurrentFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? WithTrailingSlash(buffer) : std::string();
}

std::string ExecutablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProgramFolder() {
    static const std::string kPrefix = "/opt/Velmora/";
    const std::string folder = ExecutableFolder();
    if (folder.compare(0, kPrefix.size(), kPrefix) == 0)
        return kPrefix;
    return folder;
}

}  // namespace platform
