#include "launcher/core/SkinPackage.h"

#include <limits>

#include "launcher/core/FolderRules.h"
#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/PrivateFolder.h"
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

std::string TempBase(std::string_view tempFolder) {
    std::string base = WithSlash(std::string(tempFolder));
    if (base.empty() || !platform::IsDirectory(base))
        base = platform::PrivateTempFolder();
    return base;
}

std::string_view Leaf(std::string_view gameId) {
    return gameId.empty() ? std::string_view("velmora") : gameId;
}

enum class Attempt {
    kUnpacked,  // every entry is in the folder
    kPartly,    // a folder of our own, but not every entry made it
    kRefused,   // no folder of our own: nothing was written, nothing is read
};

// One attempt: the folder name below parent, made when missing, cleared of
// read-only pictures and unpacked into.
Attempt TryFolder(const platform::Directory& parent, const std::string& name, const void* data,
                  int64_t length) {
    const platform::Directory folder = parent.Subfolder(name, true);
    // Only a folder of our own that nobody else can write into: in any other,
    // another user could supply the pictures, or swap one for a link to a
    // file of ours between two of our steps.
    if (!folder.IsValid() || !folder.IsPrivate())
        return Attempt::kRefused;
    ClearReadOnlyFiles(folder);
    return UnpackSkinInto(data, length, folder) ? Attempt::kUnpacked : Attempt::kPartly;
}

}  // namespace

std::string SkinFolder(std::string_view tempFolder, std::string_view gameId) {
    const std::string base = TempBase(tempFolder);
    return base.empty() ? std::string() : base + std::string(Leaf(gameId)) + "/";
}

void ClearReadOnlyFiles(const platform::Directory& folder) {
    for (std::string_view name : kKnownSkinFiles)
        folder.MakeWritable(name);
}

bool UnpackSkinInto(const void* data, int64_t length, const platform::Directory& folder) {
    if (data == nullptr || length <= 0 || !folder.IsValid())
        return false;
    ZipReader zip(data, length);
    if (zip.Handle() == nullptr)
        return false;
    ZipSetUnpackLimit(zip.Handle(), kMaxSkinUnpackBytes);
    bool all = true;
    const int count = zip.Count();
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo info;
        if (ZipGetEntry(zip.Handle(), i, &info) != kZipOk ||
            ZipExtractEntryAt(zip.Handle(), i, folder, info.name) != kZipOk)
            all = false;
    }
    return all;
}

UnpackedSkin UnpackSkinPackage(const void* data, int64_t length, std::string_view tempFolder,
                               std::string_view gameId) {
    UnpackedSkin skin;
    const std::string base = TempBase(tempFolder);
    const std::string leaf(Leaf(gameId));
    skin.folder = base + leaf + "/";
    const platform::Directory parent = platform::Directory::Open(base);
    Attempt attempt = TryFolder(parent, leaf, data, length);
    for (int n = 0; n < kSkinFallbackFolders && attempt != Attempt::kUnpacked; ++n) {
        const std::string name = leaf + std::to_string(n);
        skin.folder = base + name + "/";
        attempt = TryFolder(parent, name, data, length);
    }
    // The pictures are looked up by these names in the folder: in a folder
    // that is not ours they would be someone else's.
    if (attempt == Attempt::kRefused)
        return skin;
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
