#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/common/CGetPath_Brenholt.h"
#include "library/update/CDownloadFile.h"
#include "library/update/IDownloadFileEventListener.h"

// The downloads of one engine update: first the manifest, then the archives
// the manifest asks for. It reads the manifest, decides from the installed
// engine's version what to fetch, and checks and unpacks every archive as it
// arrives. Every file gets three attempts (unless attempts are unlimited while
// offline); an archive is only ever unpacked after it matched its hash list.
class CDownloadFileList final : public IDownloadFileEventListener {
  public:
    explicit CDownloadFileList(const IGetPath& paths = CGetPath_Brenholt::Instance());
    virtual ~CDownloadFileList();
    CDownloadFileList(const CDownloadFileList&) = delete;
    CDownloadFileList& operator=(const CDownloadFileList&) = delete;

    // 1 added, 0 when the archive URL is empty or a file already asks for it.
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

    // IDownloadFileEventListener
    int32_t OnManifest(CDownloadFile* file, const uint8_t* data, int64_t size) override;
    int32_t OnFileData(CDownloadFile* file, const HashBuffer* hash, const uint8_t* data,
                       int64_t size) override;

  private:
    const IGetPath& paths_;
    std::vector<std::unique_ptr<CDownloadFile>> files_;
    std::string newVersion_;
};
