#pragma once

#include <cstdint>
#include <string>

// A download record as a download session sees it: it names the URLs to fetch
// one after another and takes each complete body.
class IProgressFile {
  public:
    // Writes the next URL to fetch; false when there is none.
    virtual bool GetRequestUrl(std::string& url) = 0;
    // True when the record needs no further URL after the last delivery.
    virtual bool IsFinished() = 0;
    // Hands over one complete body; kind tells what the record made of it.
    // Answers the record's result code.
    virtual int32_t OnData(const std::string& url, const uint8_t* data, int64_t size,
                           int32_t& kind) = 0;
    // The kind of a URL of this record; kMainFile marks its main file.
    virtual int32_t Classify(const std::string& url) = 0;

    static constexpr int32_t kMainFile = 3;

  protected:
    ~IProgressFile() = default;
};
