// The nginx fixture serves real files over http and https on loopback, with
// byte ranges; checked with plain blocking sockets and the openssl command.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/LoopbackClient.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using tvxtest::LoopbackExchange;
using tvxtest::NginxServer;
using tvxtest::ReplyBody;

std::string Get(const std::string& target, const std::string& extra = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra +
           "Connection: close\r\n\r\n";
}

TEST(NginxFixture, ServesFilesAndByteRanges) {
    NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WriteFile("dir/sub dir/f.txt", "0123456789"));

    auto reply = LoopbackExchange(nginx.HttpPort(), Get("/dir/sub%20dir/f.txt"));
    ASSERT_TRUE(reply.closed);
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply.bytes;
    EXPECT_NE(reply.bytes.find("Content-Length: 10\r\n"), std::string::npos);
    EXPECT_EQ(ReplyBody(reply.bytes), "0123456789");

    reply = LoopbackExchange(nginx.HttpPort(), Get("/dir/sub%20dir/f.txt", "Range: bytes=4-\r\n"));
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 206 Partial Content\r\n", 0), 0u) << reply.bytes;
    EXPECT_NE(reply.bytes.find("Content-Range: bytes 4-9/10\r\n"), std::string::npos);
    EXPECT_EQ(ReplyBody(reply.bytes), "456789");

    reply = LoopbackExchange(nginx.HttpPort(), Get("/dir/sub%20dir/f.txt", "Range: bytes=10-\r\n"));
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 416 ", 0), 0u) << reply.bytes;

    reply = LoopbackExchange(nginx.HttpPort(), Get("/missing.txt"));
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 404 ", 0), 0u) << reply.bytes;
    EXPECT_NE(nginx.AccessLog().find("/dir/sub%20dir/f.txt"), std::string::npos);
}

TEST(NginxFixture, ServesLargePatternFilesAndExtraConfiguration) {
    NginxServer::Options options;
    options.serverConfig = "location = /moved { return 302 /big.bin; }";
    NginxServer nginx(options);
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("big.bin", 5 << 20, 7));
    const std::string file = tvxtest::ReadFile(nginx.PathOf("big.bin"));
    ASSERT_EQ(file.size(), 5u << 20);

    auto reply = LoopbackExchange(nginx.HttpPort(), Get("/big.bin"));
    EXPECT_EQ(ReplyBody(reply.bytes), file);
    reply = LoopbackExchange(nginx.HttpPort(), Get("/moved"));
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 302 ", 0), 0u) << reply.bytes;
    EXPECT_NE(reply.bytes.find("/big.bin\r\n"), std::string::npos) << reply.bytes;
}

TEST(NginxFixture, HttpsPortSpeaksTls) {
    NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WriteFile("a.txt", "secret"));
    EXPECT_EQ(nginx.HttpsUrl("/a.txt"),
              "https://127.0.0.1:" + std::to_string(nginx.HttpsPort()) + "/a.txt");

    // Plain HTTP on the TLS port is refused by nginx's TLS module itself.
    auto reply = LoopbackExchange(nginx.HttpsPort(), Get("/a.txt"));
    EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 400 ", 0), 0u) << reply.bytes;

    // A real TLS client with a self-signed certificate gets the file.
    const std::string command =
        "printf 'GET /a.txt HTTP/1.1\\r\\nHost: localhost\\r\\n"
        "Connection: close\\r\\n\\r\\n' | /usr/bin/openssl s_client "
        "-connect 127.0.0.1:" +
        std::to_string(nginx.HttpsPort()) + " -servername localhost -quiet -ign_eof 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    ::pclose(pipe);
    EXPECT_EQ(out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << out;
    EXPECT_EQ(ReplyBody(out), "secret");
}

TEST(NginxFixture, StopEndsTheServer) {
    NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const uint16_t port = nginx.HttpPort();
    nginx.Stop();
    EXPECT_FALSE(nginx.Started());
    EXPECT_FALSE(LoopbackExchange(port, Get("/")).connected);
}

}  // namespace
