#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "engine/http/ICurlRequest.h"
#include "engine/jobs/ITransferBackend.h"

namespace engine::http {

class CurlBackend;

// One file over HTTP(S), or the probe of its size, walking its mirrors with
// the direct path's rule: 3 attempts per mirror, then the next one. A download
// resumes every attempt from the bytes already on disk with a Range request
// and checks what comes back: a 206 must start where asked, a 200 starts the
// file over, 416 means it is already whole, and a known size must match
// exactly at the end.
class CurlTransfer final : public jobs::ITransfer, private ICurlRequest {
  public:
    enum class Kind { Download, SizeProbe };

    CurlTransfer(CurlBackend& backend, Kind kind, uint32_t id, jobs::TransferRequest request,
                 jobs::ITransferListener& listener);
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // The first attempt; false when the target file cannot be opened.
    bool Start();
    int64_t BytesOnDisk() const override { return onDisk_; }

    // The backend took the handle out of its multi handle: the attempt ended.
    void OnAttemptDone(CURLcode result) override;

  private:
    static constexpr int kAttemptsPerMirror = 3;

    bool BeginAttempt();
    void CloseFile();
    void RetryOrGiveUp();
    void Finish(jobs::TransferOutcome outcome, int64_t size = -1);
    void Truncate();
    bool CheckStatusOnce();

    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);

    CurlBackend& backend_;
    const Kind kind_;
    const uint32_t id_;
    const jobs::TransferRequest request_;
    jobs::ITransferListener& listener_;
    CURL* easy_ = nullptr;
    bool inMulti_ = false;
    bool finished_ = false;

    std::size_t mirror_ = 0;
    int attempts_ = 0;
    int fd_ = -1;
    int64_t rangeStart_ = 0;  // what this attempt asked for
    int64_t onDisk_ = 0;
    int64_t contentRangeStart_ = -1;
    bool statusChecked_ = false;
    bool badStatus_ = false;
    // A 416 answer: nothing past the end of what is on disk; its body is
    // not the file's, and the answer is judged once it ends.
    bool pastTheEnd_ = false;
    bool writeFailed_ = false;
};

}  // namespace engine::http
