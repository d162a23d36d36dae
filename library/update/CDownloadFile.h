#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "library/sessions/IProgressFile.h"
#include "library/update/HashBuffer.h"
#include "library/update/IDownloadFileEventListener.h"

// One download of the engine update: the manifest, or an archive with its
// hash file. A download session fetches its URLs in turn (the hash file
// first, then the archive) and hands every body back; the record passes the
// manifest and the archive on to its list.
class CDownloadFile final : public IProgressFile {
  public:
    static constexpr int32_t kAttempts = 3;

    // A manifest record has no hash URL, no folder and no name; a signed
    // manifest's record (manifest set) has its release metadata as the hash
    // file, fetched first.
    CDownloadFile(IDownloadFileEventListener* list, std::string archiveUrl, std::string hashUrl,
                  std::string name, std::string folder, bool manifest = false);
    virtual ~CDownloadFile();
    CDownloadFile(const CDownloadFile&) = delete;
    CDownloadFile& operator=(const CDownloadFile&) = delete;

    // IProgressFile
    bool GetRequestUrl(std::string& url) override;
    bool IsFinished() override;
    int32_t OnData(const std::string& url, const uint8_t* data, int64_t size,
                   int32_t& kind) override;
    int32_t Classify(const std::string& url) override;

    // The URL to fetch next: the hash URL while the hash file is due, else the archive's.
    const std::string& RequestUrl() const { return hashUrl_.empty() ? archiveUrl_ : hashUrl_; }
    bool IsManifest() const { return manifest_ || (!hash_ && folder_.empty() && name_.empty()); }
    const std::string& ArchiveUrl() const { return archiveUrl_; }
    const std::string& HashUrl() const { return hashUrl_; }
    const std::string& Folder() const { return folder_; }
    const std::string& Name() const { return name_; }
    const HashBuffer* Hash() const { return hash_.get(); }
    int32_t LastKind() const { return kind_; }

    bool busy = false;
    bool unlimitedAttempts = false;
    int32_t attemptsLeft = kAttempts;

  private:
    int32_t StoreHash(const uint8_t* data, int64_t size);

    IDownloadFileEventListener* list_;
    CDownloadFile* self_;
    std::string archiveUrl_;
    std::string hashUrl_;
    std::string folder_;
    std::string name_;
    int32_t kind_ = 0;
    bool manifest_ = false;
    std::unique_ptr<HashBuffer> hash_;
};
