#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <string>

#include "engine/http/ICurlRequest.h"

namespace engine::http {

class CurlBackend;

// How a fetch of a small document ended.
enum class FetchOutcome {
    Ok,        // a 2xx answer with its whole body
    NotThere,  // the server answered, but with no such document (4xx)
    Failed,    // no answer, a server error, or a body over the size cap
};

class IFetchListener {
  public:
    // The last call for the fetch; the listener may destroy it from here.
    // problem tells what went wrong when the outcome is not Ok.
    virtual void OnFetched(FetchOutcome outcome, std::string body, const std::string& problem) = 0;

  protected:
    ~IFetchListener() = default;
};

// One small document (such as a file's torrent metadata) into memory, in one
// attempt, with the same options and server checks as every download.
class CurlFetch final : private ICurlRequest {
  public:
    CurlFetch(CurlBackend& backend, std::string url, std::size_t maxBytes,
              IFetchListener& listener);
    ~CurlFetch();
    CurlFetch(const CurlFetch&) = delete;
    CurlFetch& operator=(const CurlFetch&) = delete;

    bool Start();

  private:
    void OnAttemptDone(CURLcode result) override;
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);

    CurlBackend& backend_;
    const std::string url_;
    const std::size_t maxBytes_;
    IFetchListener& listener_;
    CURL* easy_ = nullptr;
    bool inMulti_ = false;
    bool tooLong_ = false;
    std::string body_;
};

}  // namespace engine::http
