#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/http/ICurlRequest.h"

namespace engine::http {

class CurlBackend;

class IRangeListener {
  public:
    // The range's bytes in order, as they arrive; false stops the fetch
    // (OnRangeDone follows, not ok).
    virtual bool OnRangeData(const char* data, std::size_t length) = 0;
    // The last call for the fetch; the listener may destroy it from here. ok
    // when the whole range came.
    virtual void OnRangeDone(bool ok, const std::string& problem) = 0;

  protected:
    ~IRangeListener() = default;
};

// One byte range [first, last] of a file, in one attempt, streamed to a
// listener: only a 206 answer for exactly that range is taken, never a whole
// file or an error page. Several of these share the backend's connections.
class CurlRangeFetch final : private ICurlRequest {
  public:
    // maxBytesPerSecond: 0 for no limit.
    CurlRangeFetch(CurlBackend& backend, std::string url, int64_t first, int64_t last,
                   int64_t maxBytesPerSecond, IRangeListener& listener);
    ~CurlRangeFetch();
    CurlRangeFetch(const CurlRangeFetch&) = delete;
    CurlRangeFetch& operator=(const CurlRangeFetch&) = delete;

    bool Start();

  private:
    void OnAttemptDone(CURLcode result) override;
    bool CheckAnswerOnce();
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);

    CurlBackend& backend_;
    const std::string url_;
    const int64_t first_;
    const int64_t last_;
    const int64_t maxBytesPerSecond_;
    IRangeListener& listener_;
    CURL* easy_ = nullptr;
    bool inMulti_ = false;
    bool checked_ = false;
    bool badAnswer_ = false;
    bool stopped_ = false;
    int64_t rangeStart_ = -1;
    int64_t rangeEnd_ = -1;
    int64_t received_ = 0;
};

}  // namespace engine::http
