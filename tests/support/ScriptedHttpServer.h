#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tvxtest {

// What one connection does once its request has arrived. Steps run in order;
// after the last one the server closes its side (FIN) and lets the peer close.
class HttpScript {
  public:
    HttpScript& Send(std::string bytes);
    // One byte per write with a pause between, so that the peer gets them in
    // separate reads.
    HttpScript& SendBytewise(std::string bytes,
                             std::chrono::milliseconds gap = std::chrono::milliseconds(1));
    // Holds the connection open without sending, until the peer closes or the
    // server stops.
    HttpScript& Stall();
    // Ends the connection with a reset (RST) instead of an orderly close.
    HttpScript& Reset();

    // A whole response with Content-Length; extraHeaders are complete lines,
    // each ending in CR LF.
    static HttpScript Respond(int status, std::string body, std::string extraHeaders = "");
    // The header without Content-Length, the body, then close.
    static HttpScript RespondWithoutLength(int status, std::string body);
    // A response with "Location: " + location (sent as given) and no body.
    static HttpScript Redirect(int status, std::string location);
    // Close without sending a byte.
    static HttpScript CloseBeforeHeader();
    // Part of a status line and header, then close.
    static HttpScript CloseInsideHeader();
    // Respond(status, body), its header one byte at a time, the body at once.
    static HttpScript HeaderBytewise(int status, std::string body);

    // Answers of a broken mirror:
    // bytes that are no HTTP response, ending in a blank line, then close;
    static HttpScript Garbage();
    // a status line and then header lines without end, bytes in all, then
    // close (the peer may close first);
    static HttpScript FloodHeader(size_t bytes = 1 << 20);
    // a 200 header announcing length bytes, then nothing more;
    static HttpScript StallAfterHeader(uint64_t length);
    // a 200 with two Content-Length values that disagree, and body.
    static HttpScript ConflictingLength(std::string body);

    // "HTTP/1.1 <status> <reason>" CR LF, without further lines.
    static std::string StatusLine(int status);

  private:
    friend class ScriptedHttpServer;
    struct Step {
        enum class Kind { kSend, kSendBytewise, kStall, kReset };
        Kind kind;
        std::string bytes;
        std::chrono::milliseconds gap{0};
    };
    std::vector<Step> steps_;
};

// One request as the server received it.
struct RecordedRequest {
    // Every byte, exactly as received: the header through its blank line and a
    // body of the length its Content-Length named.
    std::string raw;
    std::string method;
    // The request target as sent ("/a%20b?x=1").
    std::string target;
    // False when the peer closed (or sent too much) before the request ended;
    // no script runs then.
    bool complete = false;
};

// A small HTTP server for the faults a real server will not produce. It listens
// on 127.0.0.1 on a free port from the start, serves connections on one thread
// of its own (poll), and stops when it is destroyed, stalled connections
// included. A request is answered by the script of its exact target (On), else
// by the first matching prefix handler (OnPrefix), else 404. Free of the
// project's network stack.
class ScriptedHttpServer {
  public:
    using Handler = std::function<HttpScript(const RecordedRequest&)>;

    // At most this many connections are served; later ones are closed at once,
    // so that a client stuck in a redirect loop cannot keep the server busy.
    static constexpr size_t kMaxConnections = 256;
    static constexpr size_t kMaxRequestBytes = 1 << 20;

    ScriptedHttpServer();
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    bool Started() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by target.
    std::string Url(std::string_view target = "/") const;

    void On(const std::string& target, HttpScript script);
    void OnPrefix(const std::string& prefix, Handler handler);
    // target answers with a redirect to itself, forever.
    void AddRedirectLoop(const std::string& target, int status = 302);
    // prefix + N answers with a redirect to prefix + (N + 1), for every N;
    // prefix alone counts as 0.
    void AddRedirectChain(const std::string& prefix, int status = 302);

    // Requests received so far, in the order they ended.
    std::vector<RecordedRequest> Requests() const;
    size_t ConnectionCount() const;
    // True once count requests (complete or not) have been recorded.
    bool WaitForRequests(size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  private:
    struct Connection;
    void Run();
    HttpScript ScriptFor(const RecordedRequest& request);
    void Record(RecordedRequest request);

    int listener_ = -1;
    int wake_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::map<std::string, HttpScript> routes_;
    std::vector<std::pair<std::string, Handler>> prefixes_;
    std::vector<RecordedRequest> requests_;
    size_t connections_ = 0;
};

}  // namespace tvxtest
