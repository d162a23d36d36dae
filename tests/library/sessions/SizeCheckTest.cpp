// The host's size check through the entry functions: lengths measured five at
// a time against nginx and the scripted server, runs that fail with their
// reason in the log, and the fall-backs of the total.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LibraryHarness.h"
#include "library/common/Log.h"
#include "ostra/norvikqos/core/cpCTimerManager.h"
#include "platform/Clock.h"
#include "support/NginxServer.h"
#include "support/ScriptedHttpServer.h"

namespace {

using namespace tarvo;
using tvxtest::HttpScript;
using tvxtest::RecordingHost;

// A loopback port on which nothing listens: connections are refused at once.
uint16_t DeadPort() {
    tvxtest::ScriptedHttpServer server;
    return server.Port();
}

std::string LogText() {
    return tvxtest::ReadFile(LogFilePath());
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

size_t RequestsFor(const tvxtest::ScriptedHttpServer& server, const std::string& prefix) {
    size_t count = 0;
    for (const auto& request : server.Requests())
        count += request.target.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

class SizeCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
    }
    void TearDown() override { TarvoLib_Finalize(); }

    void Add(const std::vector<std::string>& urls) {
        for (const std::string& url : urls)
            ASSERT_EQ(TarvoLib_AddSizeCheckUrl(url.c_str()), result::kSuccess);
    }
    // Starts a run and waits for its outcome: 525 or 526.
    int32_t Run() {
        host_.Clear();
        EXPECT_EQ(TarvoLib_StartSizeCheck(), result::kSuccess);
        return host_.WaitForCallback({event::kSizeCheckComplete, event::kSizeCheckFailed});
    }
    int64_t Total() {
        int64_t total = -7;
        EXPECT_EQ(TarvoLib_GetTotalSize(&total), result::kSuccess);
        return total;
    }

    RecordingHost host_;
};

TEST_F(SizeCheckTest, SevenUrlsRunFiveAtATimeAndAddUpExactly) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    // The first five answer slowly, so the other two can only start once one
    // of them has answered.
    const std::vector<int64_t> lengths = {1, 22, 333, 4444, 55555, 666666, 7777777};
    std::vector<std::string> urls;
    for (size_t i = 0; i < lengths.size(); ++i) {
        const std::string target = "/f" + std::to_string(i);
        const std::string header =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(lengths[i]) + "\r\n\r\n";
        server.On(target, i < 5 ? HttpScript().SendBytewise(header, std::chrono::milliseconds(25))
                                : HttpScript().Send(header));
        urls.push_back(server.Url(target));
    }
    Add(urls);
    host_.Clear();
    ASSERT_EQ(TarvoLib_StartSizeCheck(), result::kSuccess);
    ASSERT_TRUE(server.WaitForRequests(5));
    // A start while the run is in flight changes nothing.
    ASSERT_EQ(TarvoLib_StartSizeCheck(), result::kSuccess);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(server.ConnectionCount(), 5u);
    EXPECT_TRUE(host_.CallbackCodes().empty());

    ASSERT_EQ(host_.WaitForCallback({event::kSizeCheckComplete, event::kSizeCheckFailed}),
              event::kSizeCheckComplete);
    EXPECT_EQ(Total(), 1 + 22 + 333 + 4444 + 55555 + 666666 + 7777777);
    // Nothing was fetched twice, and the slow five were all asked first.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(RequestsFor(server, "/f5") + RequestsFor(server, "/f6"), 2u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_NE(requests[i].target, "/f5");
    const std::string log = LogText();
    EXPECT_NE(log.find("[TarvoLib] Start ContentLength Check file:7"), std::string::npos);
    EXPECT_NE(log.find("[TarvoLib] ContentLength Check Complete file:7 sec:"), std::string::npos);
    // The event went out once, through the window and the callback.
    EXPECT_EQ(host_.CallbackCodes(), std::vector<int32_t>{event::kSizeCheckComplete});
}

TEST_F(SizeCheckTest, NginxRedirectsMirrorsAndMissingLengthsAndEachRunStartsFromZero) {
    tvxtest::NginxServer nginx({"location = /moved { return 302 /f3.bin; }"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    tvxtest::ScriptedHttpServer scripted;
    ASSERT_TRUE(scripted.Started());
    scripted.On("/no-length", HttpScript::RespondWithoutLength(200, "a body of unknown length"));
    scripted.On("/see-other", HttpScript::Redirect(303, nginx.HttpUrl("/f1.bin")));

    int64_t expected = 0;
    std::vector<std::string> urls;
    for (int i = 0; i < 12; ++i) {
        const uint64_t size = 1 + static_cast<uint64_t>(i) * 397 * 1024;
        const std::string name = "f" + std::to_string(i) + ".bin";
        ASSERT_TRUE(nginx.WritePatternFile(name, size, static_cast<uint32_t>(i)));
        urls.push_back(nginx.HttpUrl("/" + name));
        expected += static_cast<int64_t>(size);
    }
    // A later mirror is asked only when the first one fails.
    urls.push_back(nginx.HttpUrl("/f2.bin") + "|" + scripted.Url("/never"));
    urls.push_back(nginx.HttpUrl("/moved"));
    urls.push_back(scripted.Url("/see-other"));
    urls.push_back(scripted.Url("/no-length"));
    urls.push_back(nginx.HttpsUrl("/f4.bin"));
    expected += (1 + 2 * 397 * 1024) + (1 + 3 * 397 * 1024) + (1 + 1 * 397 * 1024) + 0 +
                (1 + 4 * 397 * 1024);
    Add(urls);
    ASSERT_EQ(Run(), event::kSizeCheckComplete);
    EXPECT_EQ(Total(), expected);
    EXPECT_EQ(RequestsFor(scripted, "/never"), 0u);

    // A second run measures only what was added since, not on top of the first.
    Add({nginx.HttpUrl("/f0.bin"), nginx.HttpUrl("/f1.bin")});
    ASSERT_EQ(Run(), event::kSizeCheckComplete);
    EXPECT_EQ(Total(), 1 + (1 + 397 * 1024));

    // A run with nothing added completes at once with nothing measured.
    host_.Clear();
    ASSERT_EQ(TarvoLib_StartSizeCheck(), result::kSuccess);
    EXPECT_EQ(host_.WaitForCallback({event::kSizeCheckComplete}, 0), event::kSizeCheckComplete);
    EXPECT_EQ(Total(), 0);
}

TEST_F(SizeCheckTest, AUrlThatFailsThreeTimesEndsTheRunWithItsReason) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/good", HttpScript::Respond(200, "12345"));
    server.On("/error", HttpScript::Respond(500, "broken"));
    server.On("/closing", HttpScript::CloseBeforeHeader());
    server.On("/half", HttpScript::CloseInsideHeader());
    server.AddRedirectChain("/chain");
    // A redirect uses an attempt: one redirect, then two errors.
    server.On("/to-error", HttpScript::Redirect(302, server.Url("/error")));
    const std::string dead = "http://127.0.0.1:" + std::to_string(DeadPort()) + "/gone";

    struct Case {
        std::string url;
        std::string reason;
        size_t requests;  // that the failing URL made
    };
    const std::vector<Case> cases = {
        {server.Url("/error"), "ResCode:500", 3},    {server.Url("/closing"), "Closed", 3},
        {server.Url("/half"), "Closed", 3},          {server.Url("/chain"), "ResCode:302", 3},
        {server.Url("/to-error"), "ResCode:500", 3}, {dead, "ConnectTimeout", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const size_t before = server.Requests().size();
        Add({server.Url("/good"), c.url, server.Url("/good")});
        ASSERT_EQ(Run(), event::kSizeCheckFailed);
        const std::string line = "[TarvoLib] ContentLength Check Failed reason:" + c.reason +
                                 " file:1 url:" + c.url + "\n";
        EXPECT_EQ(CountOf(LogText(), line), 1u) << LogText();
        const auto requests = server.Requests();
        size_t made = 0;
        for (size_t i = before; i < requests.size(); ++i)
            made += requests[i].target != "/good" ? 1 : 0;
        EXPECT_EQ(made, c.requests);
        EXPECT_EQ(host_.CallbackCodes(), std::vector<int32_t>{event::kSizeCheckFailed});
    }
    // A refused connection is a connect failure, logged for every attempt.
    EXPECT_EQ(CountOf(LogText(), "[TarvoLib] CLCS CT(file:1)"), 3u);

    // After a failed run the next one starts clean.
    Add({server.Url("/good")});
    ASSERT_EQ(Run(), event::kSizeCheckComplete);
    EXPECT_EQ(Total(), 5);
}

TEST_F(SizeCheckTest, ABrokenFirstMirrorGivesWayToTheNext) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/good", HttpScript::Respond(200, "12345"));
    server.AddRedirectLoop("/loop");
    server.On("/ftp", HttpScript::Redirect(302, "ftp://127.0.0.1/good"));
    server.On("/no-host", HttpScript::Redirect(303, "http://:81/good"));
    server.On("/garbage", HttpScript::Garbage());
    server.On("/flood", HttpScript::FloodHeader());
    server.On("/conflict", HttpScript::ConflictingLength("12345"));
    server.On("/error", HttpScript::Respond(500, "broken"));
    server.On("/dir/rel", HttpScript::Redirect(302, "./../good?x=1"));
    server.On("/good?x=1", HttpScript::Respond(200, "1234567"));
    const std::string dead = "http://127.0.0.1:" + std::to_string(DeadPort()) + "/gone";

    struct Case {
        std::string first;
        std::string target;  // as the first mirror sees it
        size_t requests;
    };
    const std::vector<Case> cases = {
        {server.Url("/loop"), "/loop", 3},       {server.Url("/ftp"), "/ftp", 3},
        {server.Url("/no-host"), "/no-host", 3}, {server.Url("/garbage"), "/garbage", 3},
        {server.Url("/flood"), "/flood", 3},     {server.Url("/conflict"), "/conflict", 3},
        {"ftp://127.0.0.1/file", "", 0},         {dead, "", 0},
    };
    std::vector<std::string> urls;
    for (const Case& c : cases)
        urls.push_back(c.first + "|" + server.Url("/good"));
    urls.push_back(server.Url("/dir/rel"));
    Add(urls);
    ASSERT_EQ(Run(), event::kSizeCheckComplete) << LogText();
    EXPECT_EQ(Total(), 5 * static_cast<int64_t>(cases.size()) + 7);
    for (const Case& c : cases) {
        if (!c.target.empty()) {
            EXPECT_EQ(RequestsFor(server, c.target), c.requests) << c.target;
        }
    }
    EXPECT_EQ(CountOf(LogText(), "ContentLength Check Failed"), 0u);

    // With its last mirror gone as well, the URL fails with that mirror's reason.
    const std::string last = server.Url("/error");
    Add({server.Url("/loop") + "|" + last});
    ASSERT_EQ(Run(), event::kSizeCheckFailed);
    EXPECT_EQ(
        CountOf(LogText(), "[TarvoLib] ContentLength Check Failed reason:ResCode:500 file:0 url:" +
                               last + "\n"),
        1u);
}

// A refused server certificate fails the attempt: three of them end the run.
TEST_F(SizeCheckTest, ServerThatFailsVerificationEndsTheRunAfterThreeAttempts) {
    using Certificate = tvxtest::NginxServer::Certificate;
    tvxtest::NginxServer good;
    ASSERT_TRUE(good.Started()) << good.Error();
    ASSERT_TRUE(good.WriteFile("good.bin", "12345"));
    for (const Certificate certificate :
         {Certificate::kSelfSigned, Certificate::kWrongHost, Certificate::kExpired}) {
        SCOPED_TRACE(static_cast<int>(certificate));
        tvxtest::NginxServer nginx({.certificate = certificate});
        ASSERT_TRUE(nginx.Started()) << nginx.Error();
        ASSERT_TRUE(nginx.WriteFile("f.bin", "12345"));
        const size_t before = LogText().size();
        Add({good.HttpsUrl("/good.bin"), nginx.HttpsUrl("/f.bin")});
        ASSERT_EQ(Run(), event::kSizeCheckFailed);
        const std::string log = LogText().substr(before);
        EXPECT_EQ(CountOf(log, "] TLS: certificate of 127.0.0.1 refused: "), 3u) << log;
        EXPECT_EQ(CountOf(log, "ContentLength Check Failed reason:Closed file:1 url:" +
                                   nginx.HttpsUrl("/f.bin") + "\n"),
                  1u);
        EXPECT_EQ(nginx.AccessLog(), "");
    }
    // The trusted server alone is measured.
    Add({good.HttpsUrl("/good.bin")});
    ASSERT_EQ(Run(), event::kSizeCheckComplete);
    EXPECT_EQ(Total(), 5);
}

TEST_F(SizeCheckTest, AUrlTheLayerRefusesIsUnreachableAndEndsTheRunAtOnce) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/good", HttpScript::Respond(200, "12345"));
    Add({"ftp://127.0.0.1/file", server.Url("/good")});
    ASSERT_EQ(Run(), event::kSizeCheckFailed);
    const std::string log = LogText();
    EXPECT_EQ(CountOf(log, "[TarvoLib] CLCS HU(file:0)"), 1u);
    EXPECT_EQ(CountOf(log, "ContentLength Check Failed"), 0u);
}

// The network's timers run on a clock the test moves, so that a server that
// never answers times out without the test waiting for it.
class SizeCheckTimeoutTest : public SizeCheckTest {
  protected:
    // Moves the clock in steps below the timers' jump limit, waiting after
    // each for a whole pass of the timers that saw it, until the run ends.
    int32_t RunOnManualClock() {
        host_.Clear();
        EXPECT_EQ(TarvoLib_StartSizeCheck(), result::kSuccess);
        for (int step = 0; step < 60; ++step) {
            if (int32_t code =
                    host_.WaitForCallback({event::kSizeCheckComplete, event::kSizeCheckFailed}, 0))
                return code;
            clock_->Advance(900);
            if (!WaitForTimerPass())
                return 0;
        }
        return 0;
    }
    // A pass counts its tick as it begins: the second one begun after now
    // means the first of them, which read the moved clock, has ended.
    static bool WaitForTimerPass() {
        const uint32_t seen = TimerTicks();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (TimerTicks() < seen + 2) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    static uint32_t TimerTicks() {
        std::lock_guard guard(CDownloadLibThread::Instance()->Manager()->Lock());
        return cpCTimerManager::Instance()->TickCount();
    }

    platform::ScopedManualClock clock_;
};

TEST_F(SizeCheckTimeoutTest, AServerThatNeverAnswersTimesOutThreeTimes) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/stall", HttpScript().Stall());
    Add({server.Url("/stall")});
    ASSERT_EQ(RunOnManualClock(), event::kSizeCheckFailed);
    const std::string log = LogText();
    EXPECT_EQ(CountOf(log, "[TarvoLib] CLCS RT(file:0)"), 3u);
    EXPECT_EQ(CountOf(log, "Check Failed reason:RecvTimeout file:0 url:" + server.Url("/stall")),
              1u);
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(SizeCheckTest, TotalsWithoutAChecker) {
    int64_t size = 99;
    EXPECT_EQ(TarvoLib_StartSizeCheck(), result::kNotReady);
    EXPECT_EQ(TarvoLib_GetTotalSize(&size), result::kSuccess);
    EXPECT_EQ(size, 99);
    // A job that knows no size yet falls back on the host's size check.
    EXPECT_EQ(TarvoLib_GetRemainingSize(0, &size), result::kNotReady);
    JobHandle job = 0;
    ASSERT_EQ(TarvoLib_CreateJob(&job, "k", "j"), result::kSuccess);
    EXPECT_EQ(TarvoLib_GetRemainingSize(job, &size), result::kNotReady);

    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/a", HttpScript::Respond(200, std::string(1000, 'a')));
    Add({server.Url("/a")});
    ASSERT_EQ(Run(), event::kSizeCheckComplete);
    EXPECT_EQ(TarvoLib_GetRemainingSize(job, &size), result::kSuccess);
    EXPECT_EQ(size, 1000);
    size = 0;
    EXPECT_EQ(TarvoLib_GetRemainingSize(12345, &size), result::kSuccess);
    EXPECT_EQ(size, 1000);
}

}  // namespace
