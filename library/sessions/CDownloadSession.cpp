#include "library/sessions/CDownloadSession.h"

#include <cstdint>
#include <limits>

#include "library/common/Log.h"
#include "library/sessions/SessionError.h"
#include "ostra/norvikqos/http/ResolveLocation.h"
#include "ostra/norvikqos/http/utCUriCodec.h"

// The connection hands a body up in one piece, and one piece holds at most
// INT32_MAX bytes.
static_assert(CDownloadSession::kMaxBodyBytes <= std::numeric_limits<int32_t>::max());

CDownloadSession::~CDownloadSession() {
    request_.Stop(false);
}

void CDownloadSession::SetListener(IDownloadSessionEventListener* listener, uint32_t sessionId) {
    listener_ = listener;
    sessionId_ = sessionId;
    kind_ = 0;
}

void CDownloadSession::Start() {
    std::string url;
    if (!file_ || !file_->GetRequestUrl(url) || url.empty())
        return;
    url_ = std::move(url);
    busy_ = true;
    kind_ = file_->Classify(url_);
    expected_ = 0;
    body_.clear();
    redirects_ = 0;
    requestUrl_ = url_;
    Request();
}

void CDownloadSession::Request() {
    // A request still running is closed by the new start, so that its
    // connection neither stays open nor reports into this one.
    if (!request_.Start(requestUrl_.c_str(), this, HttpRequest::Options{}))
        // A URL the layer refuses (bad scheme, unknown host) would otherwise
        // produce no event at all: it counts as a host that cannot be reached.
        Fail(kSessionHostUnreachable);
}

void CDownloadSession::Redirect(qvIHttpClientExLayer& layer) {
    qvCString raw;
    qvCString location;
    if (qv::Succeeded(layer.GetResponseHeader("Location:", raw)))
        utCUriCodec::Utf8ToAnsi(raw.CStr(), location);
    std::string target;
    if (location.IsEmpty() || ++redirects_ > kMaxRedirects ||
        qv::Failed(ResolveLocation(requestUrl_, location.CStr(), target))) {
        Fail(kSessionBadResponse);
        return;
    }
    requestUrl_ = std::move(target);
    Request();
}

void CDownloadSession::Fail(int32_t code) {
    busy_ = false;
    request_.Stop(false);
    if (listener_)
        listener_->OnDownloadError(sessionId_, code);
}

void CDownloadSession::OnConnect(uint32_t) {
    expected_ = 0;
    // Once per URL of the record, however many redirects it takes.
    if (listener_ && redirects_ == 0)
        listener_->OnDownloadStart(sessionId_);
}

void CDownloadSession::OnResponseHeader(uint32_t) {
    qvIHttpClientExLayer* layer = request_.Layer();
    if (!layer)
        return;
    int32_t status = 0;
    layer->GetStatusCode(status);
    layer->GetContentLength(expected_);
    if (status == 302 || status == 303) {
        expected_ = 0;
        Redirect(*layer);
        return;
    }
    if (status == 200 && expected_ > kMaxBodyBytes) {
        WriteLogFormat("[TarvoLib] Update File Too Large : %lld bytes from %s",
                       static_cast<long long>(expected_), requestUrl_.c_str());
        Fail(kSessionBadResponse);
        return;
    }
    if (status != 200 || expected_ <= 0) {
        Fail(kSessionBadResponse);
        return;
    }
    if (IsMainFile() && listener_)
        listener_->OnDownloadSize(sessionId_, url_, expected_);
}

int32_t CDownloadSession::OnReceiveData(uint32_t, const uint8_t* data, uint32_t length) {
    if (!request_.IsRunning() || expected_ <= 0)
        return 0;
    // Nothing is consumed until the whole body is there: the connection keeps
    // buffering, and the body is copied once, at the end. Progress therefore
    // counts bytes buffered.
    if (static_cast<int64_t>(length) < expected_) {
        if (IsMainFile() && listener_)
            listener_->OnDownloadProgress(sessionId_, url_, length);
        return 0;
    }
    const int64_t size = expected_;
    body_.assign(data, data + size);
    if (IsMainFile() && listener_)
        listener_->OnDownloadProgress(sessionId_, url_, size);
    return static_cast<int32_t>(size);
}

void CDownloadSession::OnReceiveComplete(uint32_t) {
    if (!request_.IsRunning())
        return;
    SessionResult result;
    result.url = url_;
    result.size = expected_;
    if (file_)
        result.result = file_->OnData(url_, body_.data(), expected_, result.kind);
    std::vector<uint8_t>().swap(body_);  // delivered: the record has its own copy
    request_.Stop(false);
    if (!file_ || file_->IsFinished()) {
        busy_ = false;
        if (listener_)
            listener_->OnDownloadComplete(sessionId_, result);
        return;
    }
    Start();
}

void CDownloadSession::OnClose(uint32_t) {
    if (!request_.IsRunning())
        return;
    busy_ = false;
    request_.Drop();
    // A completed body never gets here (the request is stopped before its
    // connection closes), so every close ends a download unfinished: before
    // the header, and also once the length was known, which is reported the
    // same way so that the owner does not wait for a download that ended.
    if (listener_)
        listener_->OnDownloadError(sessionId_, kSessionClosed);
}

void CDownloadSession::OnConnectTimeout(uint32_t) {
    Fail(kSessionConnectFailed);
}

void CDownloadSession::OnReceiveTimeout(uint32_t) {
    Fail(kSessionReceiveTimeout);
}

void CDownloadSession::OnHostUnreachable(uint32_t) {
    Fail(kSessionHostUnreachable);
}
