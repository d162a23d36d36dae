#include "launcher/core/FolderRules.h"

#include <algorithm>

namespace launcher {
namespace {

// Leaves room for the longest file name plus its separator below 250, the
// limit the publisher's installers were written for.
constexpr size_t kMaxPathLength = 250;
constexpr size_t kMinFileName = 32;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder.push_back('/');
    return folder;
}

std::string EnginePath(std::string_view programFolder) {
    std::string path = WithSlash(std::string(programFolder));
    path += "TVXDownloader/TVXDownloaderEngine.exe";
    return path;
}

std::string FolderOfPath(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string DefaultDownloadFolder(std::string_view homeFolder, std::string_view folderName) {
    std::string folder = WithSlash(std::string(homeFolder));
    folder += "Download/";
    folder += folderName;
    return WithSlash(std::move(folder));
}

const std::vector<std::string>& SystemFolders() {
    static const std::vector<std::string> kFolders = {
        "/usr/", "/etc/", "/bin/", "/sbin/", "/lib/", "/boot/", "/proc/", "/sys/", "/dev/"};
    return kFolders;
}

size_t LongestFileName(const std::vector<std::string>& urls) {
    size_t longest = kMinFileName;
    for (const std::string& url : urls) {
        const size_t slash = url.rfind('/');
        const size_t length = slash == std::string::npos ? url.size() : url.size() - slash - 1;
        longest = std::max(longest, length);
    }
    return longest;
}

bool PathTooLong(std::string_view folder, const std::vector<std::string>& urls) {
    return folder.size() + LongestFileName(urls) + 1 > kMaxPathLength;
}

bool IsForbiddenFolder(std::string_view folder, std::string_view engineFolder) {
    // A relative path would land wherever the launcher happens to run.
    if (folder.empty() || folder.front() != '/')
        return true;
    if (folder == "/")
        return true;
    for (const std::string& system : SystemFolders()) {
        if (StartsWith(folder, system))
            return true;
    }
    return !engineFolder.empty() && folder == engineFolder;
}

FolderVerdict CheckChosenFolder(std::string_view folder, const std::vector<std::string>& urls,
                                std::string_view engineFolder) {
    if (PathTooLong(folder, urls))
        return FolderVerdict::kTooLong;
    if (IsForbiddenFolder(folder, engineFolder))
        return FolderVerdict::kForbidden;
    return FolderVerdict::kAccepted;
}

std::string_view VerdictText(FolderVerdict verdict) {
    switch (verdict) {
        case FolderVerdict::kTooLong:
            return kPathTooLongText;
        case FolderVerdict::kForbidden:
            return kForbiddenPathText;
        case FolderVerdict::kAccepted:
            break;
    }
    return {};
}

}  // namespace launcher
