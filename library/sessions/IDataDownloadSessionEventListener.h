#pragma once

#include <cstdint>

// What the in-memory data download tells its owner.
class IDataDownloadSessionEventListener {
  public:
    virtual void OnDataComplete(const void* data, int64_t size) = 0;
    virtual void OnDataFailed(int32_t code) = 0;
    // Once a second while the download runs.
    virtual void OnDataTick() = 0;

  protected:
    ~IDataDownloadSessionEventListener() = default;
};
