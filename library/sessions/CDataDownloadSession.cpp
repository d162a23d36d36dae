#include "library/sessions/CDataDownloadSession.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "library/common/Log.h"
#include "library/sessions/SessionError.h"
#include "ostra/norvikqos/http/ResolveLocation.h"
#include "ostra/norvikqos/http/utCUriCodec.h"

CDataDownloadSession::~CDataDownloadSession() {
    StopRequest(false);
}

void CDataDownloadSession::Start(const char* url) {
    if (!url || !*url)
        return;
    url_ = url;
    redirectUrl_.clear();
    redirects_ = 0;
    StartRequest(url_);
}

void CDataDownloadSession::StartRequest(const std::string& url) {
    if (!tick_ && tick_.CreateInstance(qvClassId::kTimer) &&
        qv::Failed(tick_->Start(1000, &OnTick, this, 0)))
        tick_.Reset();
    if (!request_.Start(url.c_str(), this, HttpRequest::Options{}))
        // A URL the layer refuses (bad scheme, unknown host) fails at once
        // instead of leaving the owner waiting.
        Fail(kSessionHostUnreachable, false);
}

void CDataDownloadSession::StopRequest(bool reportFailure) {
    if (tick_) {
        tick_->Stop();
        tick_.Reset();
    }
    request_.Stop(reportFailure);
}

void CDataDownloadSession::Fail(int32_t code, bool reportFailure) {
    StopRequest(reportFailure);
    if (listener_)
        listener_->OnDataFailed(code);
}

void CDataDownloadSession::OnTick(void* self) {
    auto* session = static_cast<CDataDownloadSession*>(self);
    if (session->listener_)
        session->listener_->OnDataTick();
}

ResultCode CDataDownloadSession::GetDataSize(int64_t* size) const {
    if (expected_ <= 0)
        return tarvo::result::kNotReady;
    if (size)
        *size = expected_;
    return tarvo::result::kSuccess;
}

ResultCode CDataDownloadSession::GetData(DataBuffer* buffer) const {
    // Only a whole body is handed out: after a download that ended early the
    // buffer holds a part of it.
    if (!buffer || !buffer->data || buffer->size != expected_ || !buffer_ || expected_ <= 0 ||
        received_ < expected_)
        return tarvo::result::kNotReady;
    std::memcpy(buffer->data, buffer_.Data(), static_cast<size_t>(expected_));
    return tarvo::result::kSuccess;
}

void CDataDownloadSession::OnConnect(uint32_t) {
    expected_ = 0;
}

void CDataDownloadSession::OnResponseHeader(uint32_t) {
    qvIHttpClientExLayer* layer = request_.Layer();
    if (!layer)
        return;
    int32_t status = 0;
    layer->GetStatusCode(status);
    if (status == 200) {
        int64_t length = 0;
        layer->GetContentLength(length);
        expected_ = length;
        if (length <= 0) {
            Fail(kSessionBadResponse, true);
            return;
        }
        if (length > kMaxDataBytes) {
            WriteLogFormat("[TarvoLib] Data Too Large : %lld bytes from %s",
                           static_cast<long long>(length),
                           (redirectUrl_.empty() ? url_ : redirectUrl_).c_str());
            expected_ = 0;
            Fail(kSessionBadResponse, true);
            return;
        }
        received_ = 0;
        // Not zero-filled: every byte is written before the data can be read
        // (GetData wants the whole body), and filling hundreds of MiB first
        // doubled the cost of a large download. The old body goes first, so
        // that two large ones are never held at once.
        buffer_.Reset();
        if (static_cast<uint64_t>(length) <= SIZE_MAX)
            buffer_ = platform::BodyBuffer::Allocate(static_cast<size_t>(length));
        if (!buffer_) {
            expected_ = 0;
            Fail(kSessionBadResponse, true);
            return;
        }
        layer->SetBodyTarget(this);
        return;
    }
    if (status == 302 || status == 303) {
        qvCString raw;
        qvCString location;
        if (qv::Succeeded(layer->GetResponseHeader("Location:", raw)))
            utCUriCodec::Utf8ToAnsi(raw.CStr(), location);
        StopRequest(false);
        // A target that is missing, relative to nothing, of another scheme or
        // past the redirect limit is no usable Location.
        std::string target;
        if (location.IsEmpty() || ++redirects_ > kMaxRedirects ||
            qv::Failed(ResolveLocation(redirectUrl_.empty() ? url_ : redirectUrl_, location.CStr(),
                                       target))) {
            if (listener_)
                listener_->OnDataFailed(kSessionBadResponse);
            return;
        }
        redirectUrl_ = std::move(target);
        StartRequest(redirectUrl_);
        return;
    }
    Fail(kSessionBadResponse, true);
}

int32_t CDataDownloadSession::OnReceiveData(uint32_t, const uint8_t* data, uint32_t length) {
    if (!request_.IsRunning())
        return 0;
    if (buffer_ && received_ < expected_) {
        const int64_t room = expected_ - received_;
        const size_t n = static_cast<size_t>(room < length ? room : length);
        std::memcpy(buffer_.Data() + received_, data, n);
    }
    received_ += length;
    return static_cast<int32_t>(length);
}

uint8_t* CDataDownloadSession::BodyTarget(uint32_t, uint32_t& room) {
    room = 0;
    if (!request_.IsRunning() || !buffer_ || received_ >= expected_)
        return nullptr;
    room = static_cast<uint32_t>(std::min<int64_t>(expected_ - received_, UINT32_MAX));
    return buffer_.Data() + received_;
}

int32_t CDataDownloadSession::OnBodyWritten(uint32_t, uint32_t length) {
    received_ += length;
    return static_cast<int32_t>(length);
}

void CDataDownloadSession::OnReceiveComplete(uint32_t) {
    StopRequest(false);
    if (listener_)
        listener_->OnDataComplete(buffer_.Data(), expected_);
}

void CDataDownloadSession::OnClose(uint32_t) {
    const bool complete = expected_ > 0 && received_ >= expected_;
    StopRequest(true);
    // A close before the whole body arrived is a failure too, also once the
    // length was known: the owner must not wait for a download that ended.
    if (!complete && listener_)
        listener_->OnDataFailed(kSessionClosed);
}

void CDataDownloadSession::OnConnectTimeout(uint32_t) {
    Fail(kSessionConnectFailed, false);
}

void CDataDownloadSession::OnReceiveTimeout(uint32_t) {
    Fail(kSessionReceiveTimeout, false);
}

void CDataDownloadSession::OnHostUnreachable(uint32_t) {
    Fail(kSessionHostUnreachable, false);
}
