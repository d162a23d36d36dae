#pragma once

#include <cstdint>

class CPlatformFileSizeCheckSession;

// What one file size check session tells its checker. Every call is the last
// thing the session does in that turn: the checker may destroy it inside.
class IPlatformFileSizeCheckSessionEventListener {
  public:
    // The entry's size is set.
    virtual void OnEntrySizeChecked(CPlatformFileSizeCheckSession* session) = 0;
    // code 513: the file does not fit; 517: no URL gave its size.
    virtual void OnEntrySizeCheckFailed(CPlatformFileSizeCheckSession* session, int32_t code,
                                        const char* url) = 0;

  protected:
    ~IPlatformFileSizeCheckSessionEventListener() = default;
};
