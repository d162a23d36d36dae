#include "engine/http/CurlRangeFetch.h"


#include <string_view>

#include "engine/http/ContentRange.h"
#include "engine/http/CurlBackend.h"

namespace engine::http {

CurlRangeFetch::CurlRangeFetch(CurlBackend& backend, std::string url, int64_t first, int64_t last,
                               int64_t maxBytesPerSecond, IRangeListener& listener)
    : backend_(backend),
      url_(std::move(url)),
      first_(first),
      last_(last),
      maxBytesPerSecond_(maxBytesPerSecond),
      listener_(listener) {}

CurlRangeFetch::~CurlRangeFetch() {
    if (inMulti_)
        backend_.Remove(easy_);
    if (easy_)
        curl_easy_cleanup(easy_);
}

bool CurlRangeFetch::Start() {
    if (first_ < 0 || last_ < first_)
        return false;
    easy_ = curl_easy_init();
    if (!easy_)
        return false;
    backend_.ApplyCommonOptions(easy_, url_);
    const std::string range = std::to_string(first_) + "-" + std::to_string(last_);
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, static_cast<ICurlRequest*>(this));
    curl_easy_setopt(easy_, CURLOPT_RANGE, range.c_str());  // copied by curl
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    if (maxBytesPerSecond_ > 0)
        curl_easy_setopt(easy_, CURLOPT_MAX_RECV_SPEED_LARGE,
                         static_cast<curl_off_t>(maxBytesPerSecond_));
    backend_.Add(easy_);
    inMulti_ = true;
    return true;
}

bool CurlRangeFetch::CheckAnswerOnce() {
    if (checked_)
        return !badAnswer_;
    checked_ = true;
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    badAnswer_ = status != 206 || rangeStart_ != first_ || rangeEnd_ != last_;
    return !badAnswer_;
}

size_t CurlRangeFetch::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* f = static_cast<CurlRangeFetch*>(self);
    const size_t length = size * count;
    if (!f->CheckAnswerOnce())
        return CURL_WRITEFUNC_ERROR;
    // A server that sends more than it announced is not trusted with the rest.
    if (f->received_ + static_cast<int64_t>(length) > f->last_ - f->first_ + 1) {
        f->badAnswer_ = true;
        return CURL_WRITEFUNC_ERROR;
    }
    f->received_ += static_cast<int64_t>(length);
    if (!f->listener_.OnRangeData(data, length)) {
        f->stopped_ = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

size_t CurlRangeFetch::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* f = static_cast<CurlRangeFetch*>(self);
    const size_t length = size * count;
    const std::string_view line(data, length);
    // Every response of a redirect chain starts its own header block.
    if (line.rfind("HTTP/", 0) == 0) {
        f->rangeStart_ = f->rangeEnd_ = -1;
        f->checked_ = false;
    }
    if (const auto range = ParseContentRangeLine(line)) {
        f->rangeStart_ = range->first;
        f->rangeEnd_ = range->last;
    }
    return length;
}

void CurlRangeFetch::OnAttemptDone(CURLcode result) {
    inMulti_ = false;
    const bool whole =
        result == CURLE_OK && checked_ && !badAnswer_ && received_ == last_ - first_ + 1;
    std::string problem;
    if (!whole) {
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        problem = stopped_     ? "stopped"
                  : badAnswer_ ? "status " + std::to_string(status) + " without the range asked for"
                  : result != CURLE_OK ? curl_easy_strerror(result)
                                       : "short answer";
        if (result == CURLE_OK && !checked_)
            problem = "status " + std::to_string(status) + " without a body";
    }
    // The listener may destroy this fetch: nothing is touched afterwards.
    listener_.OnRangeDone(whole, problem);
}

}  // namespace engine::http
