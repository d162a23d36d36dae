#include "launcher/core/SignedFileList.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "launcher/core/DownloadPathStore.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace launcher {
namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

bool MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!platform::IsDirectory(part) && !platform::MakeDirectory(part))
            return false;
    }
    return true;
}

}  // namespace

std::string ReleaseVersionIniPath() {
    const std::string config = platform::ConfigFolder();
    return config.empty() ? std::string() : config + "Velmora Inc./ReleaseVersion.ini";
}

uint64_t AcceptedReleaseVersion(const std::string& iniPath, std::string_view listUrl) {
    const std::string text = ReadWhole(iniPath);
    const std::string key = std::string(listUrl) + "=";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (line.substr(0, key.size()) == key) {
            uint64_t version = 0;
            const std::string_view value = line.substr(key.size());
            std::from_chars(value.data(), value.data() + value.size(), version);
            return version;
        }
        start = end + 1;
    }
    return 0;
}

bool StoreAcceptedReleaseVersion(const std::string& iniPath, std::string_view listUrl,
                                 uint64_t version) {
    if (iniPath.empty() || listUrl.find_first_of("\r\n=") != std::string_view::npos ||
        !MakeParents(iniPath))
        return false;
    const std::string text =
        IniWithValue(ReadWhole(iniPath), listUrl, std::to_string(version));
    const std::string temp = iniPath + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out || !(out << text) || !out.flush())
            return false;
    }
    return std::rename(temp.c_str(), iniPath.c_str()) == 0;
}

FileListCheck CheckSignedFileList(std::string_view list, const std::vector<std::string>& urls,
                                  std::string_view metadataText, std::string_view publicPem,
                                  const std::string& iniPath, std::string_view listUrl,
                                  int64_t now) {
    FileListCheck check;
    check.result = VerifyReleaseMetadata(metadataText, publicPem, ReleaseKind::kFileList, list,
                                         now, check.metadata);
    if (check.result != ReleaseCheck::kAccepted)
        return check;
    // The signature covers the list's bytes, so a URL added on the way fails
    // above already; a list signed without its files' entries fails here.
    for (const std::string& url : urls) {
        if (!url.empty() && !check.metadata.Find(url)) {
            check.result = ReleaseCheck::kMalformed;
            check.url = url;
            return check;
        }
    }
    if (check.metadata.version < AcceptedReleaseVersion(iniPath, listUrl)) {
        check.result = ReleaseCheck::kOlderVersion;
        return check;
    }
    StoreAcceptedReleaseVersion(iniPath, listUrl, check.metadata.version);
    return check;
}

}  // namespace launcher
