// The scripted server records requests byte for byte and plays its scripts,
// checked with plain blocking sockets.
#include <gtest/gtest.h>

#include <string>

#include "support/LoopbackClient.h"
#include "support/ScriptedHttpServer.h"

namespace {

using namespace std::chrono_literals;
using tvxtest::HttpScript;
using tvxtest::LoopbackExchange;
using tvxtest::ScriptedHttpServer;

TEST(ScriptedHttpServer, RecordsRequestsAndAnswers) {
    ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/a%20b?x=1", HttpScript::Respond(200, "hello", "X-Test: 1\r\n"));
    const std::string request =
        "POST /a%20b?x=1 HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc";
    const auto reply = LoopbackExchange(server.Port(), request);
    EXPECT_EQ(reply.bytes, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Test: 1\r\n\r\nhello");
    EXPECT_TRUE(reply.closed);
    ASSERT_TRUE(server.WaitForRequests(1));
    const auto recorded = server.Requests();
    EXPECT_EQ(recorded[0].raw, request);
    EXPECT_EQ(recorded[0].method, "POST");
    EXPECT_EQ(recorded[0].target, "/a%20b?x=1");
    EXPECT_TRUE(recorded[0].complete);

    const auto missing = LoopbackExchange(server.Port(), "GET /none HTTP/1.1\r\n\r\n");
    EXPECT_EQ(missing.bytes.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST(ScriptedHttpServer, FaultScripts) {
    ScriptedHttpServer server;
    server.On("/before", HttpScript::CloseBeforeHeader());
    server.On("/inside", HttpScript::CloseInsideHeader());
    server.On("/slow", HttpScript::HeaderBytewise(200, "body"));
    server.On("/nolength", HttpScript::RespondWithoutLength(200, "xyz"));
    server.On("/reset", HttpScript().Send("HTTP/1.1 200 OK\r\n").Reset());

    auto reply = LoopbackExchange(server.Port(), "GET /before HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reply.closed);
    EXPECT_EQ(reply.bytes, "");

    reply = LoopbackExchange(server.Port(), "GET /inside HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reply.closed);
    EXPECT_EQ(reply.bytes, "HTTP/1.1 200 OK\r\nContent-Le");

    reply = LoopbackExchange(server.Port(), "GET /slow HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.bytes, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    EXPECT_GT(reply.reads, 10u) << "the header arrives in pieces";

    reply = LoopbackExchange(server.Port(), "GET /nolength HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reply.closed);
    EXPECT_EQ(tvxtest::ReplyBody(reply.bytes), "xyz");
    EXPECT_EQ(reply.bytes.find("Content-Length"), std::string::npos);

    reply = LoopbackExchange(server.Port(), "GET /reset HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reply.closed);

    // A peer that closes before its request ends is recorded as incomplete.
    LoopbackExchange(server.Port(), "GET /part", 200ms);
    ASSERT_TRUE(server.WaitForRequests(6));
    EXPECT_FALSE(server.Requests().back().complete);
    EXPECT_EQ(server.Requests().back().raw, "GET /part");
}

TEST(ScriptedHttpServer, StallHoldsTheConnectionUntilTheServerStops) {
    auto server = std::make_unique<ScriptedHttpServer>();
    server->On("/stall",
               HttpScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc").Stall());
    const auto reply = LoopbackExchange(server->Port(), "GET /stall HTTP/1.1\r\n\r\n", 150ms);
    EXPECT_FALSE(reply.closed);
    EXPECT_EQ(tvxtest::ReplyBody(reply.bytes), "abc");
    server.reset();  // returns although a connection is stalled
}

TEST(ScriptedHttpServer, Redirects) {
    ScriptedHttpServer server;
    server.AddRedirectLoop("/self");
    server.AddRedirectChain("/hop/");
    server.On("/moved", HttpScript::Redirect(301, server.Url("/new")));
    server.On("/utf8", HttpScript::Redirect(302, "/\xEA\xB2\x8C\xEC\x9E\x84%20a.zip"));

    auto reply = LoopbackExchange(server.Port(), "GET /self HTTP/1.1\r\n\r\n");
    EXPECT_NE(reply.bytes.find("Location: " + server.Url("/self") + "\r\n"), std::string::npos);
    reply = LoopbackExchange(server.Port(), "GET /hop/4 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
    EXPECT_NE(reply.bytes.find("Location: " + server.Url("/hop/5") + "\r\n"), std::string::npos);
    reply = LoopbackExchange(server.Port(), "GET /moved HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u);
    reply = LoopbackExchange(server.Port(), "GET /utf8 HTTP/1.1\r\n\r\n");
    EXPECT_NE(reply.bytes.find("Location: /\xEA\xB2\x8C\xEC\x9E\x84%20a.zip\r\n"),
              std::string::npos);
}

}  // namespace
