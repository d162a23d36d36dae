#include "engine/http/CurlBackend.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>

#include "engine/http/CurlTransfer.h"

namespace engine::http {
namespace {

bool IsHttps(const std::string& url) {
    static constexpr char kScheme[] = "https://";
    if (url.size() < sizeof kScheme - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof kScheme; ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kScheme[i])
            return false;
    }
    return true;
}

}  // namespace

// Watches one of curl's sockets in the loop and hands its readiness to curl.
class CurlBackend::SocketWatch final : public platform::IFdHandler {
  public:
    SocketWatch(CurlBackend& backend, curl_socket_t fd) : backend_(backend), fd_(fd) {}
    void OnFdReady(uint32_t events) override {
        int flags = 0;
        if (events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP))
            flags |= CURL_CSELECT_IN;
        if (events & EPOLLOUT)
            flags |= CURL_CSELECT_OUT;
        if (events & EPOLLERR)
            flags |= CURL_CSELECT_ERR;
        backend_.Action(fd_, flags);
    }

  private:
    CurlBackend& backend_;
    curl_socket_t fd_;
};

CurlBackend::CurlBackend(platform::EventLoop& loop, const TrustAnchors& anchors)
    : loop_(loop), anchors_(anchors) {
    multi_ = curl_multi_init();
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (!multi_ || timerFd_ < 0)
        return;
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &OnSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &OnTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    loop_.Watch(timerFd_, EPOLLIN, this);
}

CurlBackend::~CurlBackend() {
    // Transfers are owned by jobs and are gone before the backend.
    for (auto& [fd, watch] : sockets_)
        loop_.Unwatch(fd, watch.get());
    sockets_.clear();
    if (multi_)
        curl_multi_cleanup(multi_);
    if (timerFd_ >= 0) {
        loop_.Unwatch(timerFd_, this);
        ::close(timerFd_);
    }
}

std::unique_ptr<jobs::ITransfer> CurlBackend::StartDownload(uint32_t id,
                                                            const jobs::TransferRequest& request,
                                                            jobs::ITransferListener& listener) {
    auto transfer =
        std::make_unique<CurlTransfer>(*this, CurlTransfer::Kind::Download, id, request, listener);
    if (!transfer->Start())
        return nullptr;
    return transfer;
}

std::unique_ptr<jobs::ITransfer> CurlBackend::StartSizeProbe(
    uint32_t id, const std::vector<std::string>& mirrors, jobs::ITransferListener& listener) {
    jobs::TransferRequest request;
    request.mirrors = mirrors;
    auto transfer = std::make_unique<CurlTransfer>(*this, CurlTransfer::Kind::SizeProbe, id,
                                                   std::move(request), listener);
    if (!transfer->Start())
        return nullptr;
    return transfer;
}

void CurlBackend::ApplyCommonOptions(CURL* easy, const std::string& url) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // What was asked for over TLS is never fetched in the clear: a redirect
    // from https to http ends the attempt (CURLE_UNSUPPORTED_PROTOCOL).
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, IsHttps(url) ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "vrDownload");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    // A transfer that stalls for 15 s counts as a failed attempt.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 15L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!anchors_.Empty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    }
}

CURLcode CurlBackend::OnSslContext(CURL*, void* sslContext, void* self) {
    static_cast<CurlBackend*>(self)->anchors_.AddTo(static_cast<SSL_CTX*>(sslContext));
    return CURLE_OK;
}

void CurlBackend::Add(CURL* easy) {
    curl_multi_add_handle(multi_, easy);
}

void CurlBackend::Remove(CURL* easy) {
    curl_multi_remove_handle(multi_, easy);
}

int CurlBackend::OnSocket(CURL*, curl_socket_t fd, int what, void* self, void*) {
    auto* backend = static_cast<CurlBackend*>(self);
    auto it = backend->sockets_.find(fd);
    if (what == CURL_POLL_REMOVE) {
        if (it != backend->sockets_.end()) {
            backend->loop_.Unwatch(fd, it->second.get());
            backend->sockets_.erase(it);
        }
        return 0;
    }
    uint32_t events = 0;
    if (what & CURL_POLL_IN)
        events |= EPOLLIN;
    if (what & CURL_POLL_OUT)
        events |= EPOLLOUT;
    if (it == backend->sockets_.end()) {
        auto watch = std::make_unique<SocketWatch>(*backend, fd);
        backend->loop_.Watch(fd, events, watch.get());
        backend->sockets_.emplace(fd, std::move(watch));
    } else {
        backend->loop_.Rewatch(fd, events, it->second.get());
    }
    return 0;
}

int CurlBackend::OnTimer(CURLM*, long timeoutMs, void* self) {
    auto* backend = static_cast<CurlBackend*>(self);
    itimerspec spec{};
    if (timeoutMs >= 0) {
        // Zero disarms a timerfd; "now" is the shortest real wait instead.
        const long ms = timeoutMs > 0 ? timeoutMs : 0;
        spec.it_value.tv_sec = ms / 1000;
        spec.it_value.tv_nsec = ms % 1000 * 1000000L + (ms == 0 ? 1 : 0);
    }
    ::timerfd_settime(backend->timerFd_, 0, &spec, nullptr);
    return 0;
}

void CurlBackend::OnFdReady(uint32_t) {
    uint64_t expirations = 0;
    if (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
        return;
    Action(CURL_SOCKET_TIMEOUT, 0);
}

void CurlBackend::Action(curl_socket_t fd, int flags) {
    int running = 0;
    curl_multi_socket_action(multi_, fd, flags, &running);
    CollectFinished();
}

void CurlBackend::CollectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        ICurlRequest* request = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &request);
        curl_multi_remove_handle(multi_, easy);
        if (request)
            request->OnAttemptDone(result);
    }
}

}  // namespace engine::http
