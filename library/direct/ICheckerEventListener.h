#pragma once

#include <cstdint>

#include "library/direct/SizeCheckResult.h"

// What a job's file size check tells the direct downloader. context is the
// value the downloader gave with SetListener, handed back unchanged.
class ICheckerEventListener {
  public:
    virtual void OnSizeCheckComplete(uintptr_t context, const SizeCheckResult& result) = 0;
    // code is a job message code: tarvo::message::kDiskFull (513) when a file
    // does not fit on its drive, kDownloadFailed (517) when no mirror gave its
    // size. url is the entry's whole URL text (at most 1023 bytes). Reported
    // at most once per check; the check is over then.
    virtual void OnSizeCheckFailed(uintptr_t context, int32_t code, const char* url) = 0;

  protected:
    ~ICheckerEventListener() = default;
};
