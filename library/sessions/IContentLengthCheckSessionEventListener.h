#pragma once

#include <cstdint>

// What one length-check session tells its checker. Every call is the last
// thing the session does in that turn: the checker may destroy it inside.
class IContentLengthCheckSessionEventListener {
  public:
    virtual void OnLengthChecked(int32_t index, int64_t length) = 0;
    // Three attempts (redirects included) on every mirror gave no length; url
    // is the last mirror.
    virtual void OnLengthCheckFailed(int32_t index, const char* url) = 0;
    // The last mirror could not be reached at all.
    virtual void OnLengthCheckUnreachable(int32_t index) = 0;

  protected:
    ~IContentLengthCheckSessionEventListener() = default;
};
