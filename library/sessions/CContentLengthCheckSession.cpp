#include "library/sessions/CContentLengthCheckSession.h"

#include <cstdio>

#include "library/common/Log.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/http/ResolveLocation.h"
#include "ostra/norvikqos/http/utCUriCodec.h"

namespace {
constexpr uint32_t kRefusedDelayMs = 100;
}

CContentLengthCheckSession::CContentLengthCheckSession(
    int32_t index, const char* url, IContentLengthCheckSessionEventListener* checker)
    : index_(index), checker_(checker) {
    const std::string text = url ? url : "";
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('|', begin);
        if (end == std::string::npos)
            end = text.size();
        if (end > begin)
            urls_.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    // Without any URL the attempts still run, so that the check hears of it.
    if (urls_.empty())
        urls_.emplace_back();
    url_ = urls_.front();
}

CContentLengthCheckSession::~CContentLengthCheckSession() {
    Stop();
}

void CContentLengthCheckSession::Start() {
    Attempt();
}

void CContentLengthCheckSession::Stop() {
    refused_.Cancel();
    request_.Stop(false);
}

bool CContentLengthCheckSession::NextMirror() {
    if (urlIndex_ + 1 >= urls_.size())
        return false;
    url_ = urls_[++urlIndex_];
    redirectUrl_.clear();
    attempts_ = 0;
    return true;
}

void CContentLengthCheckSession::Attempt() {
    ++attempts_;
    if (attempts_ > kMaxAttempts && NextMirror())
        attempts_ = 1;
    if (attempts_ > kMaxAttempts) {
        WriteLogFormat("[TarvoLib] ContentLength Check Failed reason:%s file:%d url:%s",
                       failureReason_.c_str(), index_, url_.c_str());
        // The checker destroys this session inside the call; the text must
        // outlive it.
        const std::string url = url_;
        if (checker_)
            checker_->OnLengthCheckFailed(index_, url.c_str());
        return;
    }
    if (request_.IsRunning())
        return;
    HttpRequest::Options options;
    options.connectTimeoutSeconds = cpCQoSContext::kDefaultConnectTimeout;
    options.receiveTimeoutSeconds = kReceiveTimeoutSeconds;
    const std::string& target = redirectUrl_.empty() ? url_ : redirectUrl_;
    if (request_.Start(target.c_str(), this, options))
        return;
    // The layer refused the URL (no scheme it knows, a name that does not
    // resolve): no connection will ever report. The outcome follows from a
    // timer, so that the checker never hears of it inside its own call.
    request_.Stop(false);
    if (refused_.Schedule(kRefusedDelayMs, &OnRefusedTimer, this))
        return;
    Unreachable();
}

void CContentLengthCheckSession::OnRefusedTimer(void* self) {
    static_cast<CContentLengthCheckSession*>(self)->Unreachable();
}

void CContentLengthCheckSession::Unreachable() {
    failureReason_ = "HostUnreach";
    WriteLogFormat("[TarvoLib] CLCS HU(file:%d)", index_);
    // A redirect target that cannot be reached is one failed attempt: the
    // next goes back to the mirror. Another mirror may still be reached; only
    // the last one ends the check.
    if (!redirectUrl_.empty()) {
        redirectUrl_.clear();
        Attempt();
        return;
    }
    if (NextMirror()) {
        Attempt();
        return;
    }
    if (checker_)
        checker_->OnLengthCheckUnreachable(index_);
}

void CContentLengthCheckSession::OnResponseHeader(uint32_t) {
    qvIHttpClientExLayer* layer = request_.Layer();
    if (!layer)
        return;
    int32_t status = 0;
    int64_t length = 0;
    qvCString location;
    layer->GetStatusCode(status);
    layer->GetContentLength(length);
    layer->GetResponseHeader("Location:", location);
    request_.Stop(false);
    if (status == 200) {
        length_ = length > 0 ? length : 0;
        if (checker_)
            checker_->OnLengthChecked(index_, length_);
        return;
    }
    char reason[32];
    std::snprintf(reason, sizeof reason, "ResCode:%d", status);
    failureReason_ = reason;
    if (status == 302 || status == 303) {
        // A target that no request could open leaves the next attempt on the
        // mirror itself.
        qvCString converted;
        utCUriCodec::Utf8ToAnsi(location.CStr(), converted);
        std::string target;
        if (qv::Succeeded(ResolveLocation(redirectUrl_.empty() ? url_ : redirectUrl_,
                                          converted.CStr(), target)))
            redirectUrl_ = std::move(target);
        else
            redirectUrl_.clear();
    }
    Attempt();
}

int32_t CContentLengthCheckSession::OnReceiveData(uint32_t, const uint8_t*, uint32_t length) {
    return static_cast<int32_t>(length);
}

void CContentLengthCheckSession::OnClose(uint32_t) {
    failureReason_ = "Closed";
    request_.Drop();
    Attempt();
}

void CContentLengthCheckSession::OnConnectTimeout(uint32_t) {
    failureReason_ = "ConnectTimeout";
    request_.Stop(false);
    // Logged before the next attempt, which may end the check (and this
    // session), so the line comes before the check's outcome.
    WriteLogFormat("[TarvoLib] CLCS CT(file:%d)", index_);
    Attempt();
}

void CContentLengthCheckSession::OnReceiveTimeout(uint32_t) {
    failureReason_ = "RecvTimeout";
    request_.Stop(false);
    WriteLogFormat("[TarvoLib] CLCS RT(file:%d)", index_);
    Attempt();
}

void CContentLengthCheckSession::OnHostUnreachable(uint32_t) {
    request_.Stop(false);
    Unreachable();
}
