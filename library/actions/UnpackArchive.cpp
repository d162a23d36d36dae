#include "library/actions/UnpackArchive.h"

#include "library/actions/C7ZipExtractAction.h"
#include "library/actions/CGZipExtractAction.h"
#include "library/update/UpdateResult.h"

ArchiveType GetArchiveType(const std::string& url) {
    const size_t dot = url.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return ArchiveType::Unknown;
    std::string extension = url.substr(dot + 1);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (extension == "7z")
        return ArchiveType::SevenZip;
    if (extension == "zip")
        return ArchiveType::Zip;
    return ArchiveType::Unknown;
}

std::unique_ptr<IExtractAction> CreateExtractAction(ArchiveType type) {
    switch (type) {
        case ArchiveType::SevenZip:
            return std::make_unique<C7ZipExtractAction>();
        case ArchiveType::Zip:
            return std::make_unique<CGZipExtractAction>();
        case ArchiveType::Unknown:
            break;
    }
    return nullptr;
}

int32_t UnpackArchive(ArchiveType type, const uint8_t* data, int64_t size,
                      const std::string& folder) {
    const std::unique_ptr<IExtractAction> action = CreateExtractAction(type);
    if (!action)
        return kUpdateUnpackFailed;
    switch (action->Extract(data, size, folder)) {
        case kExtractOk:
            return kUpdateHandled;
        case kExtractFailed:
        case kExtractNoArchive:
        case kExtractBadArguments:
        case kExtractUnsupported:
            return kUpdateUnpackFailed;
        case kExtractParameter:
            return kUpdateUnpackParam;
        default:
            // No action answers anything else; should one, it is no success.
            return kUpdateUnpackFailed;
    }
}
