#pragma once

#include <cstdint>
#include <string>

// The outcome of one record's downloads, handed to the owner at the end.
struct SessionResult {
    std::string url;     // the last URL delivered
    int32_t kind = 0;    // what the record made of it (IProgressFile::OnData)
    int32_t result = 0;  // the record's answer to the delivery
    int64_t size = 0;    // bytes delivered
};

// What a download session tells its owner; every call passes the session id
// first. The owner may delete the session from inside any of these calls.
class IDownloadSessionEventListener {
  public:
    virtual void OnDownloadStart(uint32_t session) = 0;
    virtual void OnDownloadComplete(uint32_t session, const SessionResult& result) = 0;
    // A session error code (SessionErrorCode); the request has ended.
    virtual void OnDownloadError(uint32_t session, int32_t code) = 0;
    // Size and progress are told for the record's main file only.
    virtual void OnDownloadSize(uint32_t session, const std::string& url, int64_t size) = 0;
    virtual void OnDownloadProgress(uint32_t session, const std::string& url, int64_t bytes) = 0;

  protected:
    ~IDownloadSessionEventListener() = default;
};
