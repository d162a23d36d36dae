#pragma once

#include <curl/curl.h>

namespace engine::http {

// Whatever owns an easy handle in the backend's multi handle: told when its
// attempt ended (the handle is already out of the multi handle then).
class ICurlRequest {
  public:
    virtual void OnAttemptDone(CURLcode result) = 0;

  protected:
    ~ICurlRequest() = default;
};

}  // namespace engine::http
