// The record-driven download session on the library's worker thread, against
// nginx (http and https), the scripted server, and a server the test itself
// drives step by step where the arrival of each piece matters.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LibraryHarness.h"
#include "library/sessions/CDownloadSession.h"
#include "library/sessions/SessionError.h"
#include "support/NginxServer.h"
#include "support/ScriptedHttpServer.h"

namespace {

using tvxtest::HttpScript;

// A record that names a fixed list of URLs, each with its kind, and keeps the
// bodies it is given. Used on the worker thread only.
class FakeFile final : public IProgressFile {
  public:
    struct Entry {
        std::string url;
        int32_t kind;
    };
    explicit FakeFile(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    bool GetRequestUrl(std::string& url) override {
        if (next_ >= entries_.size())
            return false;
        url = entries_[next_].url;
        return true;
    }
    bool IsFinished() override { return next_ >= entries_.size(); }
    int32_t OnData(const std::string& url, const uint8_t* data, int64_t size,
                   int32_t& kind) override {
        bodies.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
        kind = Classify(url);
        ++next_;
        return 0;
    }
    int32_t Classify(const std::string& url) override {
        for (const Entry& e : entries_) {
            if (e.url == url)
                return e.kind;
        }
        return 0;
    }

    std::vector<std::string> bodies;

  private:
    std::vector<Entry> entries_;
    size_t next_ = 0;
};

// Every listener call as one text, in order; safe to read from the test thread.
class Recorder final : public IDownloadSessionEventListener {
  public:
    void OnDownloadStart(uint32_t id) override { Add(id, "start"); }
    void OnDownloadComplete(uint32_t id, const SessionResult& r) override {
        Add(id, "complete:" + r.url + ":" + std::to_string(r.kind) + ":" +
                    std::to_string(r.result) + ":" + std::to_string(r.size));
    }
    void OnDownloadError(uint32_t id, int32_t code) override {
        Add(id, "error:" + std::to_string(code));
    }
    void OnDownloadSize(uint32_t id, const std::string& url, int64_t size) override {
        Add(id, "size:" + url + ":" + std::to_string(size));
    }
    void OnDownloadProgress(uint32_t id, const std::string& url, int64_t bytes) override {
        Add(id, "progress:" + url + ":" + std::to_string(bytes));
    }

    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Waits (bounded) for an event that starts with prefix.
    bool WaitFor(const std::string& prefix, int timeoutMs = 5000) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const std::string& e : events_) {
                if (e.rfind(prefix, 0) == 0)
                    return true;
            }
            return false;
        });
    }
    bool WaitForEnd(int timeoutMs = 5000) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const std::string& e : events_) {
                if (e.rfind("complete:", 0) == 0 || e.rfind("error:", 0) == 0)
                    return true;
            }
            return false;
        });
    }
    uint32_t expectedId = 0;

  private:
    void Add(uint32_t id, std::string text) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(id == expectedId ? std::move(text) : "wrong id " + text);
        }
        changed_.notify_all();
    }
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> events_;
};

std::vector<std::string> Without(const std::vector<std::string>& events,
                                 const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& e : events) {
        if (e.rfind(prefix, 0) != 0)
            out.push_back(e);
    }
    return out;
}

// A loopback server the test thread drives by hand, one connection at a time.
class ManualServer {
  public:
    ManualServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~ManualServer() {
        for (int fd : accepted_)
            close(fd);
        close(listener_);
    }
    uint16_t Port() const { return port_; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // Accepts one connection and reads its request header; -1 on time-out.
    int AcceptRequest() {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            return -1;
        const int fd = accept(listener_, nullptr, nullptr);
        accepted_.push_back(fd);
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd q{fd, POLLIN, 0};
            if (poll(&q, 1, 5000) != 1)
                return -1;
            char buffer[4096];
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return -1;
            request.append(buffer, static_cast<size_t>(n));
        }
        return fd;
    }
    static void Send(int fd, const std::string& bytes) {
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // True when the peer closed the connection within the time.
    static bool PeerClosed(int fd, int timeoutMs = 5000) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        char byte = 0;
        return recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
    }

  private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> accepted_;
};

class DownloadSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TarvoLib_Initialize(&host_, nullptr, 0), tarvo::result::kSuccess);
    }
    void TearDown() override {
        // Sessions end on the worker thread, where their connections live.
        tvxtest::RunOnWorker([this] { sessions_.clear(); });
        TarvoLib_Finalize();
    }

    // A session with a record of these URLs, started on the worker thread.
    Recorder& StartSession(std::vector<FakeFile::Entry> entries, uint32_t id = 7) {
        auto state = std::make_unique<SessionState>();
        state->file = std::make_unique<FakeFile>(std::move(entries));
        state->recorder.expectedId = id;
        SessionState* s = state.get();
        sessions_.push_back(std::move(state));
        tvxtest::RunOnWorker([s, id] {
            s->session.SetListener(&s->recorder, id);
            s->session.SetFile(s->file.get());
            s->session.Start();
        });
        return s->recorder;
    }
    FakeFile& FileOf(const Recorder& recorder) {
        for (auto& s : sessions_) {
            if (&s->recorder == &recorder)
                return *s->file;
        }
        ADD_FAILURE() << "no such session";
        return *sessions_.front()->file;
    }

    struct SessionState {
        Recorder recorder;
        std::unique_ptr<FakeFile> file;
        CDownloadSession session;
        ~SessionState() { session.SetListener(nullptr, 0); }
    };
    tvxtest::RecordingHost host_;
    std::vector<std::unique_ptr<SessionState>> sessions_;
};

TEST_F(DownloadSessionTest, HashThenMainUrlReportsSizeAndProgressOnlyForTheMainFile) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WriteFile("engine.hash", "hash list body"));
    ASSERT_TRUE(nginx.WritePatternFile("engine.7z", 300 * 1024, 3));
    const std::string archive = tvxtest::ReadFile(nginx.PathOf("engine.7z"));
    // Over https the body waits in the TLS layer until it is whole.
    for (bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        const std::string hashUrl =
            secure ? nginx.HttpsUrl("/engine.hash") : nginx.HttpUrl("/engine.hash");
        const std::string mainUrl =
            secure ? nginx.HttpsUrl("/engine.7z") : nginx.HttpUrl("/engine.7z");
        Recorder& recorder = StartSession({{hashUrl, 1}, {mainUrl, 3}});
        ASSERT_TRUE(recorder.WaitFor("complete:"));
        tvxtest::RunOnWorker([] {});  // let anything still queued behind the completion arrive
        const auto events = recorder.Events();
        const std::vector<std::string> expected{
            "start",
            "start",
            "size:" + mainUrl + ":" + std::to_string(archive.size()),
            "complete:" + mainUrl + ":3:0:" + std::to_string(archive.size()),
        };
        EXPECT_EQ(Without(events, "progress:"), expected);
        // Progress for the main file only, growing, ending at the whole size.
        const auto progress = Without(Without(Without(events, "start"), "size:"), "complete:");
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), "progress:" + mainUrl + ":" + std::to_string(archive.size()));
        for (const std::string& p : progress)
            EXPECT_EQ(p.rfind("progress:" + mainUrl + ":", 0), 0u) << p;
        const FakeFile& file = FileOf(recorder);
        ASSERT_EQ(file.bodies.size(), 2u);
        EXPECT_EQ(file.bodies[0], "hash list body");
        EXPECT_TRUE(file.bodies[1] == archive);
    }
}

TEST_F(DownloadSessionTest, BodyInThreePiecesRaisesProgressForEach) {
    ManualServer server;
    const std::string url = server.Url("/engine.7z");
    Recorder& recorder = StartSession({{url, 3}});
    const int fd = server.AcceptRequest();
    ASSERT_GE(fd, 0);
    std::string body(256, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i);
    // Each piece is sent only once the previous one was seen.
    ManualServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 256\r\n\r\n" + body.substr(0, 100));
    ASSERT_TRUE(recorder.WaitFor("progress:" + url + ":100"));
    ManualServer::Send(fd, body.substr(100, 100));
    ASSERT_TRUE(recorder.WaitFor("progress:" + url + ":200"));
    ManualServer::Send(fd, body.substr(200));
    ASSERT_TRUE(recorder.WaitFor("complete:"));
    EXPECT_EQ(recorder.Events(), (std::vector<std::string>{
                                     "start",
                                     "size:" + url + ":256",
                                     "progress:" + url + ":100",
                                     "progress:" + url + ":200",
                                     "progress:" + url + ":256",
                                     "complete:" + url + ":3:0:256",
                                 }));
    EXPECT_EQ(FileOf(recorder).bodies, std::vector<std::string>{body});
}

TEST_F(DownloadSessionTest, FailuresAreReportedOnceWithTheirCode) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/not-found", HttpScript::Respond(404, "missing"));
    server.On("/no-length", HttpScript::RespondWithoutLength(200, "body"));
    server.On("/zero-length", HttpScript::Respond(200, ""));
    server.AddRedirectLoop("/loop");
    server.On("/empty-location", HttpScript::Redirect(302, ""));
    server.On("/ftp-target", HttpScript::Redirect(303, "ftp://127.0.0.1/x"));
    server.On("/close-first", HttpScript::CloseBeforeHeader());
    server.On("/close-inside-body",
              HttpScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b"));
    // Update files past the cap, and a body of no known length that never
    // ends, are refused at the header: nothing of them is buffered.
    server.On("/past-cap", HttpScript::StallAfterHeader(CDownloadSession::kMaxBodyBytes + 1));
    server.On(
        "/endless",
        HttpScript().Send(HttpScript::StatusLine(200) + "\r\n" + std::string(4096, 'x')).Stall());
    uint16_t closedPort = 0;
    {
        ManualServer probe;  // a port that refuses once the probe is gone
        closedPort = probe.Port();
    }
    struct Case {
        std::string url;
        std::vector<int32_t> codes;  // any of these
    };
    const Case cases[] = {
        {server.Url("/not-found"), {kSessionBadResponse}},
        {server.Url("/no-length"), {kSessionBadResponse}},
        {server.Url("/zero-length"), {kSessionBadResponse}},
        {server.Url("/loop"), {kSessionBadResponse}},
        {server.Url("/empty-location"), {kSessionBadResponse}},
        {server.Url("/ftp-target"), {kSessionBadResponse}},
        {server.Url("/past-cap"), {kSessionBadResponse}},
        {server.Url("/endless"), {kSessionBadResponse}},
        {server.Url("/close-first"), {kSessionClosed}},
        {server.Url("/close-inside-body"), {kSessionClosed}},
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/x",
         {kSessionConnectFailed, kSessionHostUnreachable}},
        {"ftp://127.0.0.1/file", {kSessionHostUnreachable}},
        {"http://", {kSessionHostUnreachable}},
    };
    std::vector<Recorder*> recorders;
    uint32_t id = 100;
    for (const Case& c : cases)
        recorders.push_back(&StartSession({{c.url, 3}}, id++));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].url);
        ASSERT_TRUE(recorders[i]->WaitForEnd());
    }
    tvxtest::RunOnWorker([] {});
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].url);
        const auto ended =
            Without(Without(Without(recorders[i]->Events(), "start"), "size:"), "progress:");
        ASSERT_EQ(ended.size(), 1u);
        bool known = false;
        for (int32_t code : cases[i].codes)
            known = known || ended[0] == "error:" + std::to_string(code);
        EXPECT_TRUE(known) << ended[0];
        EXPECT_TRUE(FileOf(*recorders[i]).bodies.empty());
    }
    for (Recorder* r : recorders) {
        bool busy = true;
        tvxtest::RunOnWorker([&] {
            for (auto& s : sessions_) {
                if (&s->recorder == r)
                    busy = s->session.IsBusy();
            }
        });
        EXPECT_FALSE(busy);
    }
}

TEST_F(DownloadSessionTest, RedirectsAreFollowedAndDeliveredUnderTheRecordsUrls) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    // A relative target, then an absolute one; a scheme-relative one for the main file.
    server.On("/list/hash", HttpScript::Redirect(302, "../store/h1"));
    server.On("/store/h1", HttpScript::Redirect(303, server.Url("/store/h2")));
    server.On("/store/h2", HttpScript::Respond(200, "hash"));
    server.On("/main.zip",
              HttpScript::Redirect(302, "//127.0.0.1:" + std::to_string(server.Port()) + "/m"));
    server.On("/m", HttpScript::Respond(200, "main body"));
    const std::string hash = server.Url("/list/hash");
    const std::string main = server.Url("/main.zip");
    Recorder& recorder = StartSession({{hash, 1}, {main, 3}});
    ASSERT_TRUE(recorder.WaitForEnd());
    EXPECT_EQ(Without(recorder.Events(), "progress:"),
              (std::vector<std::string>{"start", "start", "size:" + main + ":9",
                                        "complete:" + main + ":3:0:9"}));
    EXPECT_EQ(FileOf(recorder).bodies, (std::vector<std::string>{"hash", "main body"}));
    EXPECT_EQ(server.Requests().size(), 5u);
}

TEST_F(DownloadSessionTest, StartingAgainClosesTheRunningRequest) {
    ManualServer server;
    const std::string url = server.Url("/again");
    Recorder& recorder = StartSession({{url, 3}});
    const int first = server.AcceptRequest();
    ASSERT_GE(first, 0);
    ASSERT_TRUE(recorder.WaitFor("start"));
    tvxtest::RunOnWorker([this] { sessions_.back()->session.Start(); });
    EXPECT_TRUE(ManualServer::PeerClosed(first));
    const int second = server.AcceptRequest();
    ASSERT_GE(second, 0);
    ManualServer::Send(second, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    ASSERT_TRUE(recorder.WaitFor("complete:"));
    // The first connection's end reports nothing into the second request.
    EXPECT_EQ(Without(recorder.Events(), "progress:"),
              (std::vector<std::string>{"start", "start", "size:" + url + ":2",
                                        "complete:" + url + ":3:0:2"}));
}

}  // namespace
