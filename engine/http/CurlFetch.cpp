#include "engine/http/CurlFetch.h"

#include "engine/http/CurlBackend.h"

namespace engine::http {

CurlFetch::CurlFetch(CurlBackend& backend, std::string url, std::size_t maxBytes,
                     IFetchListener& listener)
    : backend_(backend), url_(std::move(url)), maxBytes_(maxBytes), listener_(listener) {}

CurlFetch::~CurlFetch() {
    if (inMulti_)
        backend_.Remove(easy_);
    if (easy_)
        curl_easy_cleanup(easy_);
}

bool CurlFetch::Start() {
    easy_ = curl_easy_init();
    if (!easy_)
        return false;
    backend_.ApplyCommonOptions(easy_, url_);
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, static_cast<ICurlRequest*>(this));
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    backend_.Add(easy_);
    inMulti_ = true;
    return true;
}

size_t CurlFetch::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* f = static_cast<CurlFetch*>(self);
    const size_t length = size * count;
    if (f->body_.size() + length > f->maxBytes_) {
        f->tooLong_ = true;
        return CURL_WRITEFUNC_ERROR;
    }
    f->body_.append(data, length);
    return length;
}

void CurlFetch::OnAttemptDone(CURLcode result) {
    inMulti_ = false;
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    FetchOutcome outcome = FetchOutcome::Failed;
    if (result == CURLE_OK && status >= 200 && status < 300)
        outcome = FetchOutcome::Ok;
    else if (!tooLong_ && status >= 400 && status < 500)
        outcome = FetchOutcome::NotThere;
    std::string problem;
    if (outcome != FetchOutcome::Ok) {
        body_.clear();
        problem = tooLong_             ? "too long"
                  : result != CURLE_OK ? curl_easy_strerror(result)
                                       : "status " + std::to_string(status);
    }
    // The listener may destroy this fetch: nothing is touched afterwards.
    listener_.OnFetched(outcome, std::move(body_), problem);
}

}  // namespace engine::http
