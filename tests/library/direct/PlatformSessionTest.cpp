// The direct download session against real nginx and the scripted server:
// mirrors, retries that rewrite the file, redirects, 416, write errors and
// file names that would leave the job's folder.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "PlatformSessionHarness.h"
#include "library/common/Log.h"
#include "support/NginxServer.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

namespace {

using tvxtest::HttpScript;
using tvxtest::RecordedRequest;
using Strings = std::vector<std::string>;

std::string Pattern(size_t size) {
    std::string out(size, '\0');
    uint32_t x = 12345;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return out;
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

// Names of everything below folder, relative to it.
Strings Tree(const std::string& folder) {
    Strings names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(std::filesystem::relative(e.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

class PlatformSessionTest : public tvxtest::PlatformSessionTestBase {
  protected:
    tvxtest::TempDir dir_{"psession-"};
};

TEST_F(PlatformSessionTest, MirrorsRedirectsAndEmptyFilesArriveByteIdentical) {
    tvxtest::NginxServer nginx({"location = /moved { return 302 /b.bin; }"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("a.bin", 3 * 1024 * 1024 + 7, 3));
    ASSERT_TRUE(nginx.WriteFile("empty.bin", ""));
    ASSERT_TRUE(nginx.WritePatternFile("b.bin", 300 * 1024, 4));
    const std::string folder = dir_.Path() + "game/data/";  // made by the session
    const std::string dead = "http://127.0.0.1:" + std::to_string(tvxtest::DeadPort()) + "/a.bin";

    Run({Entry(dead + "||" + nginx.HttpUrl("/a.bin"), folder, "a.bin"),
         Entry(nginx.HttpUrl("/empty.bin"), folder, "empty.bin"),
         Entry(nginx.HttpUrl("/moved"), folder, "b.bin")});

    EXPECT_EQ(listener_.Outcomes(),
              (Strings{"file a.bin", "file empty.bin", "file b.bin", "complete"}));
    for (const char* name : {"a.bin", "empty.bin", "b.bin"})
        EXPECT_TRUE(tvxtest::ReadFile(folder + name) == tvxtest::ReadFile(nginx.PathOf(name)))
            << name;
    // Three refused attempts on the dead mirror created the file each time.
    int aPaths = 0;
    for (const std::string& e : listener_.Events())
        aPaths += e == "path " + folder + "a.bin";
    EXPECT_EQ(aPaths, 4);
    EXPECT_EQ(WrittenBytes(), 3 * 1024 * 1024 + 7 + 300 * 1024);
    EXPECT_GT(listener_.Progress(), 0);

    // One record per file that received bytes, with the URL text as given.
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].JobName(), "job");
    EXPECT_EQ(records[0].Url(), dead + "||" + nginx.HttpUrl("/a.bin"));
    EXPECT_EQ(records[0].DownloadedBytes(), 3 * 1024 * 1024 + 7);
    EXPECT_EQ(records[1].Url(), nginx.HttpUrl("/moved"));
    EXPECT_EQ(records[1].DownloadedBytes(), 300 * 1024);
}

TEST_F(PlatformSessionTest, CloseMidBodyRetriesFromTheStartAndKeepsTheCountsRight) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    const std::string body = Pattern(200 * 1024);
    std::atomic<int> served{0};
    server.OnPrefix("/f.bin", [&](const RecordedRequest&) {
        if (++served <= 2) {
            return HttpScript().Send(
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body.substr(0, body.size() / 2));
        }
        return HttpScript::Respond(200, body);
    });
    const std::string folder = dir_.Path() + "job/";
    Run({Entry(server.Url("/f.bin"), folder, "f.bin")});

    EXPECT_EQ(listener_.Outcomes(), (Strings{"file f.bin", "complete"}));
    EXPECT_TRUE(tvxtest::ReadFile(folder + "f.bin") == body);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const RecordedRequest& r : requests)
        EXPECT_NE(r.raw.find("\r\nRange: bytes=0-\r\n"), std::string::npos) << r.raw;
    // What is in the file, not what passed through the attempts...
    EXPECT_EQ(WrittenBytes(), static_cast<int64_t>(body.size()));
    // ...while the report counts every byte received.
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].DownloadedBytes(),
              static_cast<int64_t>(body.size() / 2 * 2 + body.size()));
}

TEST_F(PlatformSessionTest, Status500ThreeTimesThenTheNextMirror) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.OnPrefix("/err", [](const RecordedRequest&) { return HttpScript::Respond(500, "no"); });
    server.On("/ok", HttpScript::Respond(200, "fine"));
    const std::string folder = dir_.Path() + "job/";
    Run({Entry(server.Url("/err") + "|" + server.Url("/ok"), folder, "x.txt")});

    EXPECT_EQ(listener_.Outcomes(), (Strings{"file x.txt", "complete"}));
    EXPECT_EQ(tvxtest::ReadFile(folder + "x.txt"), "fine");
    Strings targets;
    for (const RecordedRequest& r : server.Requests())
        targets.push_back(r.target);
    EXPECT_EQ(targets, (Strings{"/err", "/err", "/err", "/ok"}));
}

// A mirror whose certificate is refused gets no request: its three attempts
// fail, the file comes from the next mirror, and with no other mirror the
// session stops with that URL.
TEST_F(PlatformSessionTest, MirrorThatFailsVerificationFallsThroughToTheNext) {
    using Certificate = tvxtest::NginxServer::Certificate;
    tvxtest::NginxServer good;
    ASSERT_TRUE(good.Started()) << good.Error();
    ASSERT_TRUE(good.WritePatternFile("game.exe", 200 * 1024, 9));
    for (const Certificate certificate :
         {Certificate::kSelfSigned, Certificate::kWrongHost, Certificate::kExpired}) {
        SCOPED_TRACE(static_cast<int>(certificate));
        tvxtest::NginxServer nginx({.certificate = certificate});
        ASSERT_TRUE(nginx.Started()) << nginx.Error();
        ASSERT_TRUE(nginx.WriteFile("game.exe", "replaced"));
        const std::string bad = nginx.HttpsUrl("/game.exe");
        const std::string folder =
            dir_.Path() + "tls" + std::to_string(static_cast<int>(certificate)) + "/";
        const size_t before = LogText().size();

        tvxtest::RecordingSessionListener fallsThrough;
        Run({Entry(bad + "|" + good.HttpsUrl("/game.exe"), folder, "game.exe")}, 1, &fallsThrough);
        EXPECT_EQ(fallsThrough.Outcomes(), (Strings{"file game.exe", "complete"}));
        EXPECT_TRUE(tvxtest::ReadFile(folder + "game.exe") ==
                    tvxtest::ReadFile(good.PathOf("game.exe")));

        tvxtest::RecordingSessionListener stops;
        Run({Entry(bad, folder, "again.exe")}, 1, &stops);
        EXPECT_EQ(stops.Outcomes(), (Strings{"error " + bad}));

        const std::string log = LogText().substr(before);
        size_t refused = 0;
        for (size_t at = log.find("] TLS: certificate of 127.0.0.1 refused: ");
             at != std::string::npos; at = log.find("] TLS: certificate of", at + 1))
            ++refused;
        EXPECT_EQ(refused, 6u) << log;
        EXPECT_EQ(nginx.AccessLog(), "");
    }
}

TEST_F(PlatformSessionTest, MirrorsThatAlwaysCloseFailWithTheLastUrlAndStopTheSession) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.OnPrefix("/", [](const RecordedRequest&) { return HttpScript::CloseBeforeHeader(); });
    const std::string folder = dir_.Path() + "job/";
    const std::string b = server.Url("/b");
    Run({Entry(server.Url("/a") + "|" + b, folder, "one"),
         Entry(server.Url("/next"), folder, "two")});

    EXPECT_EQ(listener_.Outcomes(), (Strings{"error " + b}));
    Strings targets;
    for (const RecordedRequest& r : server.Requests())
        targets.push_back(r.target);
    EXPECT_EQ(targets, (Strings{"/a", "/a", "/a", "/b", "/b", "/b"}));
    EXPECT_NE(LogText().find("[TarvoLib] TryMax Over : " + b + "\n"), std::string::npos);
}

TEST_F(PlatformSessionTest, RedirectsAreFollowedAndResetTheAttempts) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    // A relative 302, an absolute 303, then 416: an empty, complete file.
    server.On("/r0", HttpScript::Redirect(302, "/r1"));
    server.On("/r1", HttpScript::Redirect(303, server.Url("/r2")));
    server.On("/r2", HttpScript::Respond(416, "range"));
    // Two closes, a redirect; two closes on the target, then the body: only
    // a fresh count of attempts after the redirect gets there.
    std::atomic<int> c{0};
    std::atomic<int> d{0};
    server.OnPrefix("/c", [&](const RecordedRequest&) {
        return ++c <= 2 ? HttpScript::CloseBeforeHeader() : HttpScript::Redirect(302, "/d");
    });
    server.OnPrefix("/d", [&](const RecordedRequest&) {
        return ++d <= 2 ? HttpScript::CloseBeforeHeader() : HttpScript::Respond(200, "dddd");
    });
    const std::string folder = dir_.Path() + "job/";
    Run({Entry(server.Url("/r0"), folder, "r.bin"), Entry(server.Url("/c"), folder, "d.bin")});

    EXPECT_EQ(listener_.Outcomes(), (Strings{"file r.bin", "file d.bin", "complete"}));
    EXPECT_EQ(tvxtest::ReadFile(folder + "r.bin"), "");
    EXPECT_EQ(tvxtest::ReadFile(folder + "d.bin"), "dddd");
    EXPECT_EQ(server.ConnectionCount(), 3u + 6u);
}

TEST_F(PlatformSessionTest, BrokenRedirectsAreFailedAttemptsAndTheNextMirrorServes) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.AddRedirectLoop("/loop");
    server.On("/no-target", HttpScript::Redirect(302, ""));
    server.On("/ftp", HttpScript::Redirect(303, "ftp://127.0.0.1/file"));
    server.On("/no-host", HttpScript::Redirect(302, "http://:80/file"));
    // A close before the loop: the chain is the mirror's second attempt.
    std::atomic<int> late{0};
    server.OnPrefix("/late", [&](const RecordedRequest&) {
        return ++late == 1 ? HttpScript::CloseBeforeHeader()
                           : HttpScript::Redirect(302, "loop/../late");
    });
    // Relative targets resolve against the URL that answered.
    server.On("/dir/rel", HttpScript::Redirect(302, "sub/../../good?v=1"));
    server.On("/good?v=1", HttpScript::Respond(200, "good"));
    server.On("/good", HttpScript::Respond(200, "good"));

    struct Case {
        const char* target;
        size_t requests;  // made to the broken mirror
        const char* log;
        size_t logged;
    };
    const size_t chain = 1 + CPlatformSession::kMaxRedirects;
    const Case cases[] = {
        {"/loop", 3 * chain, "Redirect Failed", 3},
        {"/late", 1 + 2 * chain, "Redirect Failed", 2},
        {"/no-target", 3, "eNWHSC_HTTP_SEEOTHER ", 3},
        {"/ftp", 3, "Redirect Failed", 3},
        {"/no-host", 3, "Redirect Failed", 3},
    };
    const std::string folder = dir_.Path() + "job/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        tvxtest::RecordingSessionListener listener;
        const size_t before = server.Requests().size();
        Run({Entry(server.Url(c.target) + "|" + server.Url("/good"), folder, "g.bin"),
             Entry(server.Url("/dir/rel"), folder, "rel.bin")},
            1, &listener);
        EXPECT_EQ(listener.Outcomes(), (Strings{"file g.bin", "file rel.bin", "complete"}));
        EXPECT_EQ(tvxtest::ReadFile(folder + "g.bin"), "good");
        EXPECT_EQ(tvxtest::ReadFile(folder + "rel.bin"), "good");
        const auto requests = server.Requests();
        Strings targets;
        for (size_t i = before; i < requests.size(); ++i)
            targets.push_back(requests[i].target);
        ASSERT_EQ(targets.size(), c.requests + 3);
        EXPECT_EQ(targets[c.requests], "/good");
        EXPECT_EQ(Strings(targets.end() - 2, targets.end()), (Strings{"/dir/rel", "/good?v=1"}));
        EXPECT_EQ(CountOf(LogText(),
                          std::string("[TarvoLib] ") + c.log + " : " + server.Url(c.target) + "\n"),
                  c.logged);
    }
}

TEST_F(PlatformSessionTest, WriteErrorWhileReceivingStopsTheFileWith513) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("big.bin", 1024 * 1024, 5));
    const std::string folder = dir_.Path() + "job/";
    // Files of this process may not grow past 64 KiB (root included): the
    // write fails with EFBIG instead of a signal.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Run({Entry(nginx.HttpUrl("/big.bin"), folder, "big.bin"),
         Entry(nginx.HttpUrl("/big.bin"), folder, "second.bin")});
    ::setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(listener_.Outcomes(), (Strings{"message 513 " + nginx.HttpUrl("/big.bin")}));
    struct stat st {};
    ASSERT_EQ(::stat((folder + "big.bin").c_str(), &st), 0);
    EXPECT_LE(st.st_size, 64 * 1024);
    EXPECT_EQ(WrittenBytes(), st.st_size);
    EXPECT_FALSE(std::filesystem::exists(folder + "second.bin"));
}

TEST_F(PlatformSessionTest, NamesThatWouldLeaveTheFolderAreRefused) {
    const std::string url = "http://127.0.0.1:" + std::to_string(tvxtest::DeadPort()) + "/f";
    const std::string folder = dir_.Path() + "job/";
    std::vector<std::unique_ptr<tvxtest::RecordingSessionListener>> listeners;
    for (const char* name :
         {"", ".", "..", "../escape.bin", "sub/x.bin", "..\\escape.bin", "/abs"}) {
        SCOPED_TRACE(std::string("name: ") + name);
        listeners.push_back(std::make_unique<tvxtest::RecordingSessionListener>());
        Run({Entry(url, folder, name)}, 1, listeners.back().get());
        EXPECT_EQ(listeners.back()->Events(), (Strings{"error " + url}));
    }
    // Nothing was made anywhere, not even the job's folder.
    EXPECT_EQ(Tree(dir_.Path()), Strings{});
    EXPECT_NE(LogText().find("[TarvoLib] WriteFileOpen Failed : " + url + "\n"), std::string::npos);
}

TEST_F(PlatformSessionTest, FolderThatCannotBeMadeFailsTheFile) {
    // A plain file where the folder should be.
    ASSERT_TRUE(tvxtest::WriteFile(dir_.Path() + "blocker", "x"));
    const std::string url = "http://127.0.0.1:" + std::to_string(tvxtest::DeadPort()) + "/f";
    Run({Entry(url, dir_.Path() + "blocker/job/", "f.bin")});
    EXPECT_EQ(listener_.Outcomes(), (Strings{"error " + url}));
    const std::string log = LogText();
    EXPECT_NE(log.find("[TarvoLib] CreateFile Failed("), std::string::npos);
    EXPECT_NE(log.find("[TarvoLib] WriteFileOpen Failed : " + url), std::string::npos);
}

TEST_F(PlatformSessionTest, EntriesWithoutUrlOrFolderAreSkipped) {
    EXPECT_FALSE(Start({Entry("", dir_.Path(), "a"), Entry("http://127.0.0.1/x", "", "b")}));
    EXPECT_TRUE(listener_.Events().empty());
    EXPECT_EQ(Records().size(), 0u);
}

}  // namespace
