#include "library/sessions/CContentLengthCheckSession.h"

#include <cstdio>

#include "library/common/Log.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/http/utCUriCodec.h"

namespace {
constexpr uint32_t kRefusedDelayMs = 100;
}

CContentLengthCheckSession::CContentLengthCheckSession(
    int32_t index, const char* url, IContentLengthCheckSessionEventListener* checker)
    : index_(index), checker_(checker) {
    url_ = url ? url : "";
    const size_t bar = url_.find('|');
    if (bar != std::string::npos)
        url_.resize(bar);
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

void CContentLengthCheckSession::Attempt() {
    if (++attempts_ > kMaxAttempts) {
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
    // resolve): no connection will ever report, so it is unreachable.
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
        qvCString converted;
        utCUriCodec::Utf8ToAnsi(location.CStr(), converted);
        redirectUrl_ = converted.CStr();
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
