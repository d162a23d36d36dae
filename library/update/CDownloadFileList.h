#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/common/CGetPath_Brenholt.h"
#include "library/update/CDownloadFile.h"
#include "library/update/IDownloadFileEventListener.h"
#include "util/ReleaseMetadata.h"

// The downloads of one engine update: first the manifest, then the archives
// the manifest asks for. It reads the manifest, decides from the installed
// engine's version what to fetch, and checks and unpacks every archive as it
// arrives. Every file gets three attempts (unless attempts are unlimited while
// offline); an archive is only ever unpacked after it matched its hash list.
//
// With a publisher key (PublisherKey()), the manifest's record first fetches
// the manifest's signed release metadata; the manifest is taken only when the
// metadata is valid for its bytes, an offer older than the installed engine
// is never installed, an archive is unpacked only when its size and SHA-256
// are the metadata's, and the installed engine file's SHA-256 is recorded.
// An engine file that no longer matches its record is installed again.
class CDownloadFileList final : public IDownloadFileEventListener {
  public:
    explicit CDownloadFileList(const IGetPath& paths = CGetPath_Brenholt::Instance());
    virtual ~CDownloadFileList();
    CDownloadFileList(const CDownloadFileList&) = delete;
    CDownloadFileList& operator=(const CDownloadFileList&) = delete;

    // 1 added, 0 when the archive URL is empty or a file already asks for it.
    // A record without hash URL, name and folder is the manifest's.
    int AddUpdateFile(const std::string& archiveUrl, const std::string& hashUrl,
                      const std::string& name, const std::string& folder);
    // The first file whose request URL equals url.
    CDownloadFile* FindUpdateFile(const std::string& url) const;
    // The first file that is not busy and has an attempt left (which it uses);
    // it becomes busy. None when every file is busy or used up.
    CDownloadFile* NextUpdateFile();
    void SetUnlimitedAttempts(bool unlimited);
    // The number of files still to do.
    int HasUpdateFiles() const { return static_cast<int>(files_.size()); }
    // Ends the attempt of the file whose request URL is url: a success removes
    // it; a failure keeps it for another attempt while it has one left.
    void FinishUpdateFile(const std::string& url, bool success);

    // The engine version the last manifest offered.
    const std::string& NewVersion() const { return newVersion_; }
    // True once a signed check refused the manifest or an archive: nothing of
    // this update may be started.
    bool Refused() const { return refused_; }

    // IDownloadFileEventListener
    int32_t OnManifest(CDownloadFile* file, const uint8_t* data, int64_t size) override;
    int32_t OnFileData(CDownloadFile* file, const HashBuffer* hash, const uint8_t* data,
                       int64_t size) override;

  private:
    const IGetPath& paths_;
    std::vector<std::unique_ptr<CDownloadFile>> files_;
    std::string newVersion_;
    // The manifest's accepted metadata (signed updates only).
    std::unique_ptr<ReleaseMetadata> release_;
    bool refused_ = false;
};
