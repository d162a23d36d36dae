#include "library/update/CDownloadFile.h"

#include "library/update/UpdateResult.h"

CDownloadFile::CDownloadFile(IDownloadFileEventListener* list, std::string archiveUrl,
                             std::string hashUrl, std::string name, std::string folder,
                             bool manifest)
    : list_(list),
      self_(this),
      archiveUrl_(std::move(archiveUrl)),
      hashUrl_(std::move(hashUrl)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      manifest_(manifest) {
    if (!hashUrl_.empty())
        hash_ = std::make_unique<HashBuffer>();
}

CDownloadFile::~CDownloadFile() = default;

bool CDownloadFile::GetRequestUrl(std::string& url) {
    url = RequestUrl();
    return !url.empty();
}

bool CDownloadFile::IsFinished() {
    // Right after the hash file the session goes on to the archive.
    return kind_ != kKindHashFile;
}

int32_t CDownloadFile::Classify(const std::string& url) {
    if (url.empty())
        return kKindNone;
    if (!hashUrl_.empty() && url == hashUrl_)
        return kKindHashFile;
    if (IsManifest())
        return kKindManifest;
    if (url == hashUrl_)
        return kKindHashFile;
    if (url == archiveUrl_)
        return kKindArchive;
    return kKindNone;
}

int32_t CDownloadFile::OnData(const std::string& url, const uint8_t* data, int64_t size,
                              int32_t& kind) {
    if (url.empty() || !data || size <= 0)
        return kUpdateNoData;
    if (!hashUrl_.empty() && url == hashUrl_) {
        kind_ = kind = kKindHashFile;
        return StoreHash(data, size);
    }
    if (IsManifest()) {
        kind_ = kind = kKindManifest;
        return list_ ? list_->OnManifest(self_, data, size) : kUpdateNoData;
    }
    if (url == archiveUrl_) {
        kind_ = kind = kKindArchive;
        return list_ ? list_->OnFileData(self_, hash_.get(), data, size) : kUpdateNoData;
    }
    return kUpdateUnknownUrl;
}

int32_t CDownloadFile::StoreHash(const uint8_t* data, int64_t size) {
    if (!hash_)
        return kUpdateUnknownUrl;
    hashUrl_.clear();
    hash_->bytes.assign(data, data + size);
    hash_->stored = true;
    return kUpdateHandled;
}
