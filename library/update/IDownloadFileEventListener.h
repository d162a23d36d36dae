#pragma once

#include <cstdint>

class CDownloadFile;
struct HashBuffer;

// What an update record hands to its list: the manifest's body, or an
// archive's body with the record's hash file. Each answers an UpdateResultCode.
class IDownloadFileEventListener {
  public:
    virtual int32_t OnManifest(CDownloadFile* file, const uint8_t* data, int64_t size) = 0;
    virtual int32_t OnFileData(CDownloadFile* file, const HashBuffer* hash, const uint8_t* data,
                               int64_t size) = 0;

  protected:
    ~IDownloadFileEventListener() = default;
};
