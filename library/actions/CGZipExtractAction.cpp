#include "library/actions/CGZipExtractAction.h"

#include <limits>

#include "library/actions/CStagedFiles.h"
#include "library/common/DirectoryPath.h"
#include "util/Zip.h"

namespace {

// Closes the archive on every way out.
struct ZipCloser {
    ZipHandle handle;
    ~ZipCloser() { ZipClose(handle); }
};

}  // namespace

int32_t CGZipExtractAction::Extract(const uint8_t* data, int64_t size, const std::string& folder) {
    if (!data || size <= 0 || folder.empty())
        return kExtractBadArguments;
    if (size > std::numeric_limits<uint32_t>::max())
        return kExtractUnsupported;
    ZipHandle handle = ZipOpenMemory(data, static_cast<uint32_t>(size));
    if (!handle)
        return kExtractUnsupported;
    const ZipCloser closer{handle};
    ZipSetUnpackLimit(handle, kMaxUpdateUnpackBytes);

    ZipEntryInfo info;
    if (ZipGetEntry(handle, -1, &info) != kZipOk)
        return kExtractUnsupported;
    const int count = info.index;
    const std::string base = NormaliseFolder(folder);
    CStagedFiles staged(base);
    for (int i = 0; i < count; ++i) {
        if (ZipGetEntry(handle, i, &info) != kZipOk)
            return kExtractUnsupported;
        if (info.attributes & kZipAttrDirectory) {
            // The wrapper refuses a folder name that leaves the destination.
            if (ZipExtractEntry(handle, i, (base + info.name).c_str()) != kZipOk)
                return kExtractUnsupported;
            continue;
        }
        const std::string path = staged.Stage(info.name);
        if (path.empty() || ZipExtractEntry(handle, i, path.c_str()) != kZipOk)
            return kExtractUnsupported;
    }
    return staged.Commit() ? kExtractOk : kExtractUnsupported;
}
