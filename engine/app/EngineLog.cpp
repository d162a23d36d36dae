#include "engine/app/EngineLog.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "platform/Paths.h"

namespace engine::app {

std::string EngineFolder() {
    const std::string data = platform::AppDataFolder();
    if (data.empty())
        return platform::ExecutableFolder();
    return data + "Brenholt/vrDownloader/";
}

EngineLog::EngineLog(const std::string& folder) : path_(folder + "vrDownload.log") {
    for (std::size_t i = 1; i < folder.size(); ++i)
        if (folder[i] == '/')
            ::mkdir(folder.substr(0, i).c_str(), 0755);
    file_ = std::fopen(path_.c_str(), "ae");
}

EngineLog::~EngineLog() {
    if (file_)
        std::fclose(file_);
}

void EngineLog::Write(std::string_view text) {
    if (echo_)
        std::fprintf(stderr, "vrDownload: %.*s\n", static_cast<int>(text.size()), text.data());
    if (!file_)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%a %b %d %H:%M:%S %Y", &local);
    std::fprintf(file_, "[%s] %.*s\n", stamp, static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

}  // namespace engine::app
