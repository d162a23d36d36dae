// Data downloads into memory through the entry functions, against real nginx
// (http and https) and the scripted server for the faults nginx will not make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LibraryHarness.h"
#include "library/common/Log.h"
#include "library/sessions/CDataDownloadSession.h"
#include "support/NginxServer.h"
#include "support/ScriptedHttpServer.h"
#include "tvx/BuiltinConfig.h"

namespace {

using namespace tarvo;
using tvxtest::HttpScript;
using tvxtest::RecordingHost;

class DataDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
    }
    void TearDown() override { TarvoLib_Finalize(); }

    // Starts the download and waits for its outcome: 522 or 523.
    int32_t Fetch(const std::string& url) {
        host_.Clear();
        EXPECT_EQ(TarvoLib_DownloadData2(url.c_str()), result::kSuccess);
        return host_.WaitForCallback({event::kDataComplete, event::kDataFailed});
    }
    std::string FetchedBytes() {
        int64_t size = 0;
        EXPECT_EQ(TarvoLib_GetDataSize(&size), result::kSuccess);
        std::string bytes(static_cast<size_t>(size), '\0');
        DataBuffer buffer{bytes.data(), size};
        EXPECT_EQ(TarvoLib_GetData(&buffer), result::kSuccess);
        return bytes;
    }

    RecordingHost host_;
};

TEST_F(DataDownloadTest, FiveMebibytesOverHttpAndHttpsArriveIdentical) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("big.bin", 5 * 1024 * 1024, 7));
    const std::string expected = tvxtest::ReadFile(nginx.PathOf("big.bin"));
    for (const std::string& url : {nginx.HttpUrl("/big.bin"), nginx.HttpsUrl("/big.bin")}) {
        SCOPED_TRACE(url);
        ASSERT_EQ(Fetch(url), event::kDataComplete);
        EXPECT_TRUE(FetchedBytes() == expected);
    }
    // The buffer must match the size exactly.
    std::string wrong(10, '\0');
    DataBuffer small{wrong.data(), 10};
    EXPECT_EQ(TarvoLib_GetData(&small), result::kNotReady);
    DataBuffer null{nullptr, 5 * 1024 * 1024};
    EXPECT_EQ(TarvoLib_GetData(&null), result::kNotReady);
}

// A server whose certificate does not prove that it is the host asked for
// gets no request; the download fails and the log says why.
TEST_F(DataDownloadTest, ServerThatFailsVerificationIsRefused) {
    using Certificate = tvxtest::NginxServer::Certificate;
    for (const Certificate certificate :
         {Certificate::kSelfSigned, Certificate::kWrongHost, Certificate::kExpired}) {
        SCOPED_TRACE(static_cast<int>(certificate));
        tvxtest::NginxServer nginx({.certificate = certificate});
        ASSERT_TRUE(nginx.Started()) << nginx.Error();
        ASSERT_TRUE(nginx.WriteFile("list.txt", "http://a.example/x.bin\n"));
        const size_t before = tvxtest::ReadFile(LogFilePath()).size();
        EXPECT_EQ(Fetch(nginx.HttpsUrl("/list.txt")), event::kDataFailed);
        const std::string log = tvxtest::ReadFile(LogFilePath()).substr(before);
        EXPECT_NE(log.find("] TLS: certificate of 127.0.0.1 refused: "), std::string::npos) << log;
        EXPECT_EQ(nginx.AccessLog(), "");
    }
}

TEST_F(DataDownloadTest, RedirectIsFollowedToTheSecondBody) {
    tvxtest::NginxServer nginx({"location = /moved { return 302 /target.txt; }"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WriteFile("target.txt", "second body"));
    ASSERT_EQ(Fetch(nginx.HttpUrl("/moved")), event::kDataComplete);
    EXPECT_EQ(FetchedBytes(), "second body");

    // Relative targets resolve against the URL that answered.
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/a/b/list", HttpScript::Redirect(302, "../c/./next?x=1#part"));
    server.On("/a/c/next?x=1", HttpScript::Redirect(303, "/final"));
    server.On("/final", HttpScript::Respond(200, "third body"));
    ASSERT_EQ(Fetch(server.Url("/a/b/list")), event::kDataComplete);
    EXPECT_EQ(FetchedBytes(), "third body");
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(DataDownloadTest, UnusableAnswersFail) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/moved-permanently", HttpScript::Redirect(301, server.Url("/x")));
    server.On("/no-length", HttpScript::RespondWithoutLength(200, "body without a length"));
    server.On("/close-first", HttpScript::CloseBeforeHeader());
    server.On("/close-inside", HttpScript::CloseInsideHeader());
    server.On("/empty-location", HttpScript::Redirect(302, ""));
    server.On("/not-found", HttpScript::Respond(404, "missing"));
    server.On("/short",
              HttpScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b"));
    server.AddRedirectLoop("/loop");
    server.On("/ftp-target", HttpScript::Redirect(302, "ftp://127.0.0.1/x"));
    for (const char* target : {"/moved-permanently", "/no-length", "/close-first", "/close-inside",
                               "/empty-location", "/not-found", "/short", "/loop", "/ftp-target"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Fetch(server.Url(target)), event::kDataFailed);
    }
    // The loop was given up after a bounded number of redirects.
    EXPECT_LE(server.ConnectionCount(), 9u + 17u);
    // A body that ended early is never handed out, not even in part.
    ASSERT_EQ(Fetch(server.Url("/short")), event::kDataFailed);
    std::string part(100, '\0');
    DataBuffer buffer{part.data(), 100};
    EXPECT_EQ(TarvoLib_GetData(&buffer), result::kNotReady);
}

// The body's first bytes may share a read with the header, its last ones with
// bytes the server should not have sent; either way exactly the body arrives.
TEST_F(DataDownloadTest, BodySharingReadsWithTheHeaderOrWithBytesPastItIsExact) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    const std::string header = HttpScript::StatusLine(200) + "Content-Length: 300000\r\n\r\n";
    server.On("/split", HttpScript()
                            .Send(header + body.substr(0, 1000))
                            .SendBytewise(body.substr(1000, 3))
                            .Send(body.substr(1003)));
    server.On("/past", HttpScript().Send(header + body + "HTTP/1.1 200 OK\r\n\r\nnot this"));
    for (const char* target : {"/split", "/past"}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(Fetch(server.Url(target)), event::kDataComplete);
        EXPECT_TRUE(FetchedBytes() == body);
    }
}

// The file list and the skin are small: a body up to the cap arrives, a
// server that announces more is refused at the header, before a byte of the
// body is stored, whatever it then sends (here: nothing, ever).
TEST_F(DataDownloadTest, BodiesPastTheCapAreRefusedAtTheHeader) {
    constexpr int64_t kCap = CDataDownloadSession::kMaxDataBytes;
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("cap.bin", kCap, 3));
    ASSERT_EQ(Fetch(nginx.HttpUrl("/cap.bin")), event::kDataComplete);
    EXPECT_TRUE(FetchedBytes() == tvxtest::ReadFile(nginx.PathOf("cap.bin")));

    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    for (const int64_t announced : {kCap + 1, int64_t{400} << 20, int64_t{1} << 50}) {
        SCOPED_TRACE(announced);
        const std::string target = "/huge" + std::to_string(announced);
        server.On(target, HttpScript::StallAfterHeader(static_cast<uint64_t>(announced)));
        const size_t before = tvxtest::ReadFile(LogFilePath()).size();
        EXPECT_EQ(Fetch(server.Url(target)), event::kDataFailed);
        const std::string log = tvxtest::ReadFile(LogFilePath()).substr(before);
        EXPECT_NE(log.find("] [TarvoLib] Data Too Large : " + std::to_string(announced) +
                           " bytes from " + server.Url(target)),
                  std::string::npos)
            << log;
        // No size is offered for a body that was never taken.
        int64_t size = 0;
        TarvoLib_GetDataSize(&size);
        EXPECT_EQ(size, 0);
    }
}

// What was asked for over TLS is never fetched in the clear: a redirect from
// https to http fails the download and the plain server gets no request. A
// redirect that stays on https is followed.
TEST_F(DataDownloadTest, HttpsIsNeverRedirectedToHttp) {
    tvxtest::NginxServer plain;
    ASSERT_TRUE(plain.Started()) << plain.Error();
    ASSERT_TRUE(plain.WriteFile("list.txt", "http://evil.example/x.exe\n"));
    tvxtest::NginxServer secure(
        {"location = /down { return 302 " + plain.HttpUrl("/list.txt") +
         "; }\n"
         "location = /along { return 302 https://127.0.0.1:$server_port/list.txt; }"});
    ASSERT_TRUE(secure.Started()) << secure.Error();
    ASSERT_TRUE(secure.WriteFile("list.txt", "https body"));
    EXPECT_EQ(Fetch(secure.HttpsUrl("/down")), event::kDataFailed);
    EXPECT_EQ(plain.AccessLog(), "");
    ASSERT_EQ(Fetch(secure.HttpsUrl("/along")), event::kDataComplete);
    EXPECT_EQ(FetchedBytes(), "https body");
}

TEST_F(DataDownloadTest, RefusedUrlsFailAtOnce) {
    for (const char* url : {"ftp://127.0.0.1/file", "http://", "not a url"})
        EXPECT_EQ(Fetch(url), event::kDataFailed) << url;
    // An empty URL starts nothing.
    host_.Clear();
    EXPECT_EQ(TarvoLib_DownloadData(""), result::kSuccess);
    EXPECT_TRUE(host_.CallbackCodes().empty());
}

TEST_F(DataDownloadTest, RequestTextIsExactlyTheFixedHeaderSet) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.OnPrefix("/",
                    [](const tvxtest::RecordedRequest&) { return HttpScript::Respond(200, "ok"); });
    ASSERT_EQ(Fetch(server.Url("/dir//sub dir/f.txt")), event::kDataComplete);
    ASSERT_EQ(Fetch(server.Url("/list.txt?b=2&a")), event::kDataComplete);
    ASSERT_EQ(Fetch(server.Url("")), event::kDataComplete);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string rest = std::string("Accept: */*\r\nReferer: ") + tvx::config::kRefererUrl +
                             "\r\nAccept-Language: ko\r\nUser-Agent: NorvikClient\r\n"
                             "Host: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n";
    EXPECT_EQ(requests[0].raw, "GET /dir/sub%20dir/f.txt HTTP/1.1\r\n" + rest);
    EXPECT_EQ(requests[1].raw, "GET /list.txt?b=2 HTTP/1.1\r\n" + rest);
    EXPECT_EQ(requests[2].raw, "GET / HTTP/1.1\r\n" + rest);
}

TEST_F(DataDownloadTest, TicksWhileRunningAndNoSizeBeforeData) {
    int64_t size = 77;
    EXPECT_EQ(TarvoLib_GetDataSize(&size), result::kNotReady);  // no session yet
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    // Slow enough for at least one tick of the session.
    server.On("/slow", HttpScript().SendBytewise("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody",
                                                 std::chrono::milliseconds(40)));
    ASSERT_EQ(Fetch(server.Url("/slow")), event::kDataComplete);
    EXPECT_EQ(FetchedBytes(), "body");
    EXPECT_EQ(host_.WaitForCallback({event::kDataTick}, 0), event::kDataTick);
}

}  // namespace
