#include "launcher/core/DownloadPathStore.h"

#include <fstream>
#include <iterator>

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace launcher {
namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool FitsOnOneLine(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

std::string DownloadPathIniPath() {
    const std::string config = platform::ConfigFolder();
    return config.empty() ? std::string() : config + "Velmora Inc./DownloadPath.ini";
}

std::string IniWithValue(std::string_view iniText, std::string_view key, std::string_view value) {
    std::string out;
    out.reserve(iniText.size() + key.size() + value.size() + 2);
    const std::string line = std::string(key) + "=" + std::string(value) + "\n";
    bool placed = false;
    bool inSection = false;
    while (!iniText.empty()) {
        const size_t end = iniText.find('\n');
        const std::string_view current = iniText.substr(0, end);
        iniText.remove_prefix(end == std::string_view::npos ? iniText.size() : end + 1);
        const std::string_view trimmed = Trimmed(current);
        if (!trimmed.empty() && trimmed.front() == '[') {
            // Our keys live before the first section.
            if (!placed && !inSection) {
                out += line;
                placed = true;
            }
            inSection = true;
        } else if (!inSection) {
            const size_t equals = trimmed.find('=');
            if (equals != std::string_view::npos && Trimmed(trimmed.substr(0, equals)) == key) {
                if (!placed)
                    out += line;
                placed = true;
                continue;
            }
        }
        out.append(current);
        out.push_back('\n');
    }
    if (!placed)
        out += line;
    return out;
}

bool RememberFolderIn(const std::string& iniPath, std::string_view folderName,
                      std::string_view folder) {
    if (iniPath.empty() || folderName.empty() || !FitsOnOneLine(folderName) ||
        !FitsOnOneLine(folder) || folderName.find('=') != std::string_view::npos ||
        Trimmed(folderName) != folderName || folderName.front() == '[')
        return false;
    const size_t slash = iniPath.rfind('/');
    if (slash != std::string::npos &&
        !platform::MakeDirectoryPath(iniPath.substr(0, slash + 1), 0700))
        return false;
    std::string existing;
    if (std::ifstream in(iniPath, std::ios::binary); in)
        existing.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // Launchers for other file lists may write the same file at the same
    // moment: each replaces it whole.
    return platform::ReplaceFileContents(iniPath, IniWithValue(existing, folderName, folder));
}

bool RememberFolder(std::string_view folderName, std::string_view folder) {
    return RememberFolderIn(DownloadPathIniPath(), folderName, folder);
}

}  // namespace launcher
