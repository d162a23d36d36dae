#include "launcher/core/SkinPackage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "launcher/core/FolderRules.h"
#include "platform/FileSystem.h"
#include "util/Zip.h"

namespace launcher {
namespace {

// Closes the archive however the caller leaves.
class ZipReader {
  public:
    ZipReader(const void* data, int64_t length) {
        if (data != nullptr && length > 0 && length <= std::numeric_limits<uint32_t>::max())
            handle_ = ZipOpenMemory(data, static_cast<uint32_t>(length));
    }
    ~ZipReader() {
        if (handle_ != nullptr)
            ZipClose(handle_);
    }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    ZipHandle Handle() const { return handle_; }
    int Count() const {
        ZipEntryInfo info;
        if (handle_ == nullptr || ZipGetEntry(handle_, -1, &info) != kZipOk)
            return 0;
        return info.index;
    }

  private:
    ZipHandle handle_ = nullptr;
};

bool FolderIsOurs(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return true;  // created by the unpacking
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

}  // namespace

std::string SkinFolder(std::string_view tempFolder, std::string_view gameId) {
    std::string base = WithSlash(std::string(tempFolder));
    if (base.empty() || !platform::IsDirectory(base))
        base = "/tmp/";
    base += gameId.empty() ? std::string_view("velmora") : gameId;
    return base + "/";
}

void ClearReadOnlyFiles(const std::string& folder) {
    for (std::string_view name : kKnownSkinFiles) {
        const std::string path = folder + std::string(name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
    }
}

bool UnpackSkinInto(const void* data, int64_t length, const std::string& folder) {
    if (data == nullptr || length <= 0 || folder.empty() || !FolderIsOurs(folder))
        return false;
    ZipReader zip(data, length);
    if (zip.Handle() == nullptr)
        return false;
    bool all = true;
    const int count = zip.Count();
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo info;
        if (ZipGetEntry(zip.Handle(), i, &info) != kZipOk) {
            all = false;
            continue;
        }
        const std::string destination = folder + info.name;
        if (ZipExtractEntry(zip.Handle(), i, destination.c_str()) != kZipOk)
            all = false;
    }
    return all;
}

UnpackedSkin UnpackSkinPackage(const void* data, int64_t length, std::string_view tempFolder,
                               std::string_view gameId) {
    UnpackedSkin skin;
    const std::string first = SkinFolder(tempFolder, gameId);
    skin.folder = first;
    ClearReadOnlyFiles(first);
    if (!UnpackSkinInto(data, length, first)) {
        const std::string base = first.substr(0, first.size() - 1);
        for (int n = 0; n < kSkinFallbackFolders; ++n) {
            skin.folder = base + std::to_string(n) + "/";
            ClearReadOnlyFiles(skin.folder);
            if (UnpackSkinInto(data, length, skin.folder))
                break;
        }
    }
    ZipReader zip(data, length);
    const int count = zip.Count();
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo info;
        if (ZipGetEntry(zip.Handle(), i, &info) == kZipOk)
            skin.entries.emplace_back(info.name);
    }
    return skin;
}

}  // namespace launcher
