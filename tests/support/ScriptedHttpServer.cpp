#include "support/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace tvxtest {

namespace {

using Clock = std::chrono::steady_clock;

// How long a finished connection waits for the peer to close before the server
// closes it anyway; closing with unread bytes pending would reset the
// connection and could destroy the response still in flight.
constexpr auto kLinger = std::chrono::seconds(2);

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// The value of a Content-Length line in a header block, -1 when there is none
// or it is not a plain number.
long long RequestContentLength(std::string_view header) {
    size_t at = 0;
    while ((at = header.find("\r\n", at)) != std::string_view::npos) {
        at += 2;
        const std::string_view line = header.substr(at, header.find("\r\n", at) - at);
        if (line.size() > 15 && strncasecmp(line.data(), "Content-Length:", 15) == 0) {
            const std::string value(line.substr(15));
            char* end = nullptr;
            const long long length = std::strtoll(value.c_str(), &end, 10);
            return end != value.c_str() && length >= 0 ? length : -1;
        }
    }
    return -1;
}

}  // namespace

HttpScript& HttpScript::Send(std::string bytes) {
    steps_.push_back({Step::Kind::kSend, std::move(bytes), {}});
    return *this;
}

HttpScript& HttpScript::SendBytewise(std::string bytes, std::chrono::milliseconds gap) {
    steps_.push_back({Step::Kind::kSendBytewise, std::move(bytes), gap});
    return *this;
}

HttpScript& HttpScript::Stall() {
    steps_.push_back({Step::Kind::kStall, {}, {}});
    return *this;
}

HttpScript& HttpScript::Reset() {
    steps_.push_back({Step::Kind::kReset, {}, {}});
    return *this;
}

std::string HttpScript::StatusLine(int status) {
    return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
}

HttpScript HttpScript::Respond(int status, std::string body, std::string extraHeaders) {
    HttpScript script;
    script.Send(StatusLine(status) + "Content-Length: " + std::to_string(body.size()) + "\r\n" +
                extraHeaders + "\r\n" + body);
    return script;
}

HttpScript HttpScript::RespondWithoutLength(int status, std::string body) {
    HttpScript script;
    script.Send(StatusLine(status) + "Content-Type: application/octet-stream\r\n\r\n" + body);
    return script;
}

HttpScript HttpScript::Redirect(int status, std::string location) {
    return Respond(status, "", "Location: " + location + "\r\n");
}

HttpScript HttpScript::CloseBeforeHeader() {
    return HttpScript();
}

HttpScript HttpScript::CloseInsideHeader() {
    HttpScript script;
    script.Send("HTTP/1.1 200 OK\r\nContent-Le");
    return script;
}

HttpScript HttpScript::HeaderBytewise(int status, std::string body) {
    HttpScript script;
    script.SendBytewise(StatusLine(status) + "Content-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n");
    script.Send(std::move(body));
    return script;
}

HttpScript HttpScript::Garbage() {
    // A TLS record start, a NUL, bytes that are no text: nothing of a status line.
    static constexpr char kBytes[] = "\x16\x03\x01\x00\xA5 SSH-2.0 \xFF\xFE<html>\r\n\r\nmore";
    HttpScript script;
    script.Send(std::string(kBytes, sizeof kBytes - 1));
    return script;
}

HttpScript HttpScript::FloodHeader(size_t bytes) {
    std::string flood = StatusLine(200);
    const std::string line = "X-Flood: " + std::string(54, 'f') + "\r\n";
    flood.reserve(bytes + line.size());
    while (flood.size() < bytes)
        flood += line;
    HttpScript script;
    script.Send(std::move(flood));
    return script;
}

HttpScript HttpScript::StallAfterHeader(uint64_t length) {
    HttpScript script;
    script.Send(StatusLine(200) + "Content-Length: " + std::to_string(length) + "\r\n\r\n");
    script.Stall();
    return script;
}

HttpScript HttpScript::ConflictingLength(std::string body) {
    HttpScript script;
    script.Send(StatusLine(200) + "Content-Length: " + std::to_string(body.size()) +
                "\r\nContent-Length: " + std::to_string(body.size() + 1) + "\r\n\r\n" + body);
    return script;
}

struct ScriptedHttpServer::Connection {
    int fd = -1;
    RecordedRequest request;
    bool answering = false;
    HttpScript script;
    size_t step = 0;
    size_t offset = 0;
    Clock::time_point nextSend{};
    bool stalled = false;
    bool finished = false;  // our side is shut down; waiting for the peer
    Clock::time_point lingerUntil{};

    ~Connection() {
        if (fd >= 0)
            ::close(fd);
    }
};

ScriptedHttpServer::ScriptedHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (listener_ < 0 || wake_ < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
        thread_.join();
    }
    if (listener_ >= 0)
        ::close(listener_);
    if (wake_ >= 0)
        ::close(wake_);
}

std::string ScriptedHttpServer::Url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

void ScriptedHttpServer::On(const std::string& target, HttpScript script) {
    const std::lock_guard lock(mutex_);
    routes_[target] = std::move(script);
}

void ScriptedHttpServer::OnPrefix(const std::string& prefix, Handler handler) {
    const std::lock_guard lock(mutex_);
    prefixes_.emplace_back(prefix, std::move(handler));
}

void ScriptedHttpServer::AddRedirectLoop(const std::string& target, int status) {
    On(target, HttpScript::Redirect(status, Url(target)));
}

void ScriptedHttpServer::AddRedirectChain(const std::string& prefix, int status) {
    OnPrefix(prefix, [this, prefix, status](const RecordedRequest& request) {
        const long n = std::strtol(request.target.c_str() + prefix.size(), nullptr, 10);
        return HttpScript::Redirect(status, Url(prefix + std::to_string(n + 1)));
    });
}

std::vector<RecordedRequest> ScriptedHttpServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

size_t ScriptedHttpServer::ConnectionCount() const {
    const std::lock_guard lock(mutex_);
    return connections_;
}

bool ScriptedHttpServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return recorded_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

HttpScript ScriptedHttpServer::ScriptFor(const RecordedRequest& request) {
    Handler handler;
    {
        const std::lock_guard lock(mutex_);
        const auto route = routes_.find(request.target);
        if (route != routes_.end())
            return route->second;
        for (const auto& [prefix, h] : prefixes_) {
            if (request.target.compare(0, prefix.size(), prefix) == 0) {
                handler = h;
                break;
            }
        }
    }
    if (handler)
        return handler(request);
    return HttpScript::Respond(404, "not found\n");
}

void ScriptedHttpServer::Record(RecordedRequest request) {
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    recorded_.notify_all();
}

void ScriptedHttpServer::Run() {
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<pollfd> fds;
    char buffer[65536];

    for (;;) {
        const auto now = Clock::now();
        fds.clear();
        fds.push_back({wake_, POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        auto wakeAt = Clock::time_point::max();
        for (const auto& c : connections) {
            short events = 0;
            if (!c->answering || c->stalled || c->finished) {
                events = POLLIN;
                if (c->finished)
                    wakeAt = std::min(wakeAt, c->lingerUntil);
            } else if (c->nextSend <= now) {
                events = POLLOUT;
            } else {
                wakeAt = std::min(wakeAt, c->nextSend);
            }
            fds.push_back({c->fd, events, 0});
        }
        int timeout = -1;
        if (wakeAt != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now);
            timeout = static_cast<int>(std::max<long long>(0, wait.count()));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;  // stopping; the connections close as they are destroyed

        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                bool accepted = false;
                {
                    const std::lock_guard lock(mutex_);
                    if (connections_ < kMaxConnections) {
                        ++connections_;
                        accepted = true;
                    }
                }
                if (!accepted) {
                    ::close(fd);
                    continue;
                }
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                auto connection = std::make_unique<Connection>();
                connection->fd = fd;
                connections.push_back(std::move(connection));
            }
        }

        // Only the connections polled this turn have an entry in fds.
        const size_t polled = fds.size() - 2;
        for (size_t i = 0; i < polled; ++i) {
            Connection& c = *connections[i];
            const short revents = fds[i + 2].revents;
            bool drop = false;

            if (!c.answering || c.stalled || c.finished) {
                if (revents & (POLLIN | POLLHUP | POLLERR)) {
                    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                    if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
                        if (!c.answering)
                            Record(std::move(c.request));
                        drop = true;
                    } else if (n > 0 && !c.answering) {
                        c.request.raw.append(buffer, static_cast<size_t>(n));
                        const size_t blank = c.request.raw.find("\r\n\r\n");
                        if (c.request.raw.size() > kMaxRequestBytes) {
                            Record(std::move(c.request));
                            drop = true;
                        } else if (blank != std::string::npos) {
                            const long long body = RequestContentLength(
                                std::string_view(c.request.raw).substr(0, blank + 2));
                            const size_t wanted =
                                blank + 4 + static_cast<size_t>(body > 0 ? body : 0);
                            if (c.request.raw.size() >= wanted) {
                                const size_t space = c.request.raw.find(' ');
                                const size_t space2 = c.request.raw.find(' ', space + 1);
                                const size_t lineEnd = c.request.raw.find("\r\n");
                                if (space < lineEnd) {
                                    c.request.method = c.request.raw.substr(0, space);
                                    c.request.target = c.request.raw.substr(
                                        space + 1, std::min(space2, lineEnd) - space - 1);
                                }
                                c.request.complete = true;
                                c.script = ScriptFor(c.request);
                                Record(c.request);
                                c.answering = true;
                                c.nextSend = Clock::now();
                            }
                        }
                    }
                } else if (c.finished && Clock::now() >= c.lingerUntil) {
                    drop = true;
                }
            }

            if (!drop && c.answering && !c.stalled && !c.finished && (revents & POLLOUT)) {
                while (c.step < c.script.steps_.size()) {
                    auto& step = c.script.steps_[c.step];
                    if (step.kind == HttpScript::Step::Kind::kStall) {
                        c.stalled = true;
                        break;
                    }
                    if (step.kind == HttpScript::Step::Kind::kReset) {
                        const linger reset{1, 0};
                        ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                        drop = true;
                        break;
                    }
                    const bool bytewise = step.kind == HttpScript::Step::Kind::kSendBytewise;
                    if (c.offset < step.bytes.size()) {
                        const size_t count = bytewise ? 1 : step.bytes.size() - c.offset;
                        const ssize_t n = ::send(c.fd, step.bytes.data() + c.offset, count,
                                                 MSG_NOSIGNAL | MSG_DONTWAIT);
                        if (n < 0) {
                            drop = errno != EAGAIN && errno != EINTR;
                            break;
                        }
                        c.offset += static_cast<size_t>(n);
                        if (bytewise && c.offset < step.bytes.size()) {
                            c.nextSend = Clock::now() + step.gap;
                            break;
                        }
                        if (c.offset < step.bytes.size())
                            break;
                    }
                    ++c.step;
                    c.offset = 0;
                }
                if (!drop && !c.stalled && c.step >= c.script.steps_.size()) {
                    ::shutdown(c.fd, SHUT_WR);
                    c.finished = true;
                    c.lingerUntil = Clock::now() + kLinger;
                }
            }
            if (drop)
                connections[i].reset();
        }
        std::erase(connections, nullptr);
    }
}

}  // namespace tvxtest
