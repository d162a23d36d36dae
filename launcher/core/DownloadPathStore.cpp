#include "launcher/core/DownloadPathStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

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

bool MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool WriteWhole(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool written = done == text.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
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
    if (slash != std::string::npos && !MakeFolders(iniPath.substr(0, slash + 1)))
        return false;
    std::string existing;
    if (std::ifstream in(iniPath, std::ios::binary); in)
        existing.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WriteWhole(iniPath, IniWithValue(existing, folderName, folder));
}

bool RememberFolder(std::string_view folderName, std::string_view folder) {
    return RememberFolderIn(DownloadPathIniPath(), folderName, folder);
}

}  // namespace launcher
