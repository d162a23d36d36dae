#include "library/direct/CPlatformFileSizeCheckSession.h"

#include "library/api/TarvoLib.h"
#include "ostra/norvikqos/http/ResolveLocation.h"
#include "ostra/norvikqos/http/utCUriCodec.h"
#include "platform/FileSystem.h"

namespace {
constexpr uint32_t kRefusedDelayMs = 100;
}

CPlatformFileSizeCheckSession::CPlatformFileSizeCheckSession(
    IPlatformFileSizeCheckSessionEventListener* listener)
    : listener_(listener) {}

CPlatformFileSizeCheckSession::~CPlatformFileSizeCheckSession() {
    Stop();
}

void CPlatformFileSizeCheckSession::Start(FileEntry* entry) {
    entry_ = entry;
    urls_.clear();
    const std::string& text = entry->url;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('|', begin);
        if (end == std::string::npos)
            end = text.size();
        // "a||b" and a trailing "|" name no mirror.
        if (end > begin)
            urls_.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    // An entry without any URL still goes through the attempts, so that its
    // failure is reported like every other one.
    if (urls_.empty())
        urls_.emplace_back();
    urlIndex_ = 0;
    attempts_ = 0;
    redirectUrl_.clear();
    url_ = urls_.front();
    Try();
}

void CPlatformFileSizeCheckSession::Stop() {
    refused_.Cancel();
    request_.Stop(false);
}

void CPlatformFileSizeCheckSession::Try() {
    if (attempts_ >= kAttemptsPerUrl) {
        attempts_ = 0;
        redirectUrl_.clear();
        if (static_cast<size_t>(++urlIndex_) >= urls_.size()) {
            Fail(tarvo::message::kDownloadFailed);
            return;
        }
        url_ = urls_[static_cast<size_t>(urlIndex_)];
    }
    if (request_.IsRunning() || refused_.Pending())
        return;
    ++attempts_;
    HttpRequest::Options options;
    options.connectTimeoutSeconds = kTimeoutSeconds;
    options.receiveTimeoutSeconds = kTimeoutSeconds;
    const std::string& target = redirectUrl_.empty() ? url_ : redirectUrl_;
    if (request_.Start(target.c_str(), this, options))
        return;
    // The layer refused the URL (no scheme it knows, a name that does not
    // resolve): that attempt failed, and the next one runs from a timer. A
    // redirect target that cannot be reached is not asked again: the next
    // attempt goes back to the mirror.
    request_.Stop(false);
    redirectUrl_.clear();
    if (refused_.Schedule(kRefusedDelayMs, &OnRefusedTimer, this))
        return;
    Try();
}

void CPlatformFileSizeCheckSession::OnRefusedTimer(void* self) {
    static_cast<CPlatformFileSizeCheckSession*>(self)->Try();
}

void CPlatformFileSizeCheckSession::Retry() {
    request_.Stop(false);
    Try();
}

void CPlatformFileSizeCheckSession::Fail(int32_t code) {
    // The checker may destroy this session inside the call; the text must
    // outlive it.
    const std::string url = entry_->url.substr(0, kMaxReportedUrl);
    if (listener_)
        listener_->OnEntrySizeCheckFailed(this, code, url.c_str());
}

void CPlatformFileSizeCheckSession::OnResponseHeader(uint32_t) {
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
        // Without a length the file could not be downloaded from this mirror
        // either; another mirror may know it.
        if (length <= 0) {
            Try();
            return;
        }
        // The file must fit with room to spare, the rule of every other free
        // space check of the library; a failed query counts as no room.
        if (platform::FreeBytes(entry_->folder) <= length) {
            Fail(tarvo::message::kDiskFull);
            return;
        }
        entry_->size = length;
        if (listener_)
            listener_->OnEntrySizeChecked(this);
        return;
    }
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
    // Any other answer is one failed attempt on this mirror, like a close.
    Try();
}

int32_t CPlatformFileSizeCheckSession::OnReceiveData(uint32_t, const uint8_t*, uint32_t length) {
    // The body is never wanted.
    request_.Stop(false);
    return static_cast<int32_t>(length);
}

void CPlatformFileSizeCheckSession::OnClose(uint32_t) {
    request_.Drop();
    Try();
}

void CPlatformFileSizeCheckSession::OnConnectTimeout(uint32_t) {
    Retry();
}

void CPlatformFileSizeCheckSession::OnReceiveTimeout(uint32_t) {
    Retry();
}

void CPlatformFileSizeCheckSession::OnHostUnreachable(uint32_t) {
    // The connect failure that follows would end this attempt as well.
    Retry();
}
