// The engine program end to end: driven by a test client of the link, against
// a real nginx, each test in a network namespace of its own.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

using namespace enginetest;

namespace {

constexpr uint16_t kAccepted = 4, kProgress = 5, kFinished = 6, kFileDone = 7, kNotice = 8,
                   kDown = 9, kUp = 10, kError = 11, kResume = 16;

struct ListedFile {
    std::string name;
    std::string urls;
    int64_t size;
};

class EngineProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(EnterPrivateNetwork(why, true)) << why;
    }

    // Sends a job in one piece or in begin/file/end pieces.
    static void SendJob(LinkClient& client, uint32_t serial, const std::string& folder,
                        const std::vector<ListedFile>& files, bool pieces = false) {
        std::vector<nwCDNJobListEntry> entries;
        for (const ListedFile& f : files)
            entries.push_back({0, 0, f.size, folder, f.name, f.urls});
        const nwCDNJobListHeader header{serial, static_cast<uint32_t>(files.size()), "halvard2"};
        ASSERT_TRUE(client.Send(nwBuildJobMode({2})));
        if (!pieces) {
            ASSERT_TRUE(client.Send(nwBuildJobList({header, entries})));
            return;
        }
        ASSERT_TRUE(client.Send(nwBuildJobListBegin(header)));
        for (uint32_t i = 0; i < entries.size(); ++i)
            ASSERT_TRUE(client.Send(nwBuildJobFile({serial, i, entries[i]})));
        ASSERT_TRUE(client.Send(nwBuildJobListEnd(serial)));
    }

    static nwCDNJobFinishedRecord Finished(const Frame& frame) {
        nwCDNJobFinishedRecord r;
        EXPECT_TRUE(nwReadJobFinished(frame.Data(), frame.Length(), r));
        return r;
    }

    static std::string DeadUrl(const std::string& path) {
        return "http://127.0.0.1:9" + path;  // discard port: nothing listens in the namespace
    }
};

TEST_F(EngineProgramTest, JobWithParallelFilesMirrorsAndUnknownSizes) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const std::vector<std::pair<std::string, uint64_t>> content = {
        {"a.bin", 3 << 20}, {"b.bin", 1}, {"c.bin", 0}, {"d.bin", 700001}, {"e.bin", 2 << 20}};
    for (size_t i = 0; i < content.size(); ++i)
        ASSERT_TRUE(nginx.WritePatternFile(content[i].first, content[i].second,
                                           static_cast<uint32_t>(i + 3)));
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());

    for (const bool pieces : {false, true}) {
        SCOPED_TRACE(pieces ? "in pieces" : "in one piece");
        tvxtest::TempDir dest;
        const std::string folder = dest.Path() + "game/sub/";
        std::vector<ListedFile> files;
        int64_t total = 0;
        for (size_t i = 0; i < content.size(); ++i) {
            const std::string url = nginx.HttpUrl("/" + content[i].first);
            // Every other file first tries a dead mirror, every other size is unknown.
            files.push_back({content[i].first, i % 2 ? DeadUrl("/x") + "|" + url : url,
                             i % 2 ? -1 : static_cast<int64_t>(content[i].second)});
            total += static_cast<int64_t>(content[i].second);
        }
        LinkClient client;
        ASSERT_TRUE(client.Connected());
        SendJob(client, 5, folder, files, pieces);

        Frame frame;
        ASSERT_TRUE(client.WaitFor(kAccepted, frame));
        nwCDNJobAcceptedRecord accepted;
        ASSERT_TRUE(nwReadJobAccepted(frame.Data(), frame.Length(), accepted));
        EXPECT_EQ(accepted.serial, 5u);
        EXPECT_EQ(accepted.valueA, content.size());
        EXPECT_EQ(accepted.totalBytes, total);
        ASSERT_TRUE(client.WaitFor(kFinished, frame, 60s));
        const auto finished = Finished(frame);
        EXPECT_EQ(finished.engineKey, accepted.engineKey);
        EXPECT_EQ(finished.failureFlag, 0u);
        EXPECT_EQ(finished.result, 0u);

        std::vector<std::string> completed;
        for (const Frame& f : client.Seen()) {
            nwCDNFileCompletedRecord r;
            if (f.command == kFileDone && nwReadFileCompleted(f.Data(), f.Length(), r))
                completed.emplace_back(r.localPath);
            EXPECT_NE(f.command, kResume);
        }
        EXPECT_EQ(completed.size(), content.size());
        for (const auto& [name, size] : content) {
            EXPECT_NE(std::find(completed.begin(), completed.end(), folder + name),
                      completed.end());
            EXPECT_EQ(Slurp(folder + name), Slurp(nginx.PathOf(name))) << name;
        }
    }
}

TEST_F(EngineProgramTest, StoppedHalfWayThenResumedWithRangeRequests) {
    tvxtest::NginxServer nginx({"limit_rate 2m;"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    // Large enough against the server's cap (and its first second's burst)
    // that neither file can be whole by the time of the stop, even on a
    // loaded machine.
    ASSERT_TRUE(nginx.WritePatternFile("r1.bin", 12 << 20, 11));
    ASSERT_TRUE(nginx.WritePatternFile("r2.bin", 10 << 20, 12));
    const std::vector<ListedFile> files = {{"r1.bin", nginx.HttpUrl("/r1.bin"), 12 << 20},
                                           {"r2.bin", nginx.HttpUrl("/r2.bin"), 10 << 20}};
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    {
        LinkClient client;
        SendJob(client, 1, dest.Path(), files);
        Frame frame;
        ASSERT_TRUE(client.WaitFor(kAccepted, frame));
        nwCDNJobAcceptedRecord accepted;
        ASSERT_TRUE(nwReadJobAccepted(frame.Data(), frame.Length(), accepted));
        ASSERT_TRUE(client.WaitFor(kProgress, frame));
        ASSERT_TRUE(client.WaitFor(kProgress, frame));
        ASSERT_TRUE(client.Send(nwBuildStopJob({1, accepted.engineKey})));
        // Nothing finishes after a stop.
        EXPECT_FALSE(client.WaitFor(kFinished, frame, 1500ms));
    }
    for (const ListedFile& f : files) {
        EXPECT_GT(FileSize(dest.Path() + f.name), 0) << f.name;
        EXPECT_LT(FileSize(dest.Path() + f.name), f.size) << f.name;
    }
    LinkClient client;
    SendJob(client, 2, dest.Path(), files);
    Frame frame;
    ASSERT_TRUE(client.WaitFor(kResume, frame));
    uint32_t serial = 0;
    ASSERT_TRUE(nwReadResumeQuestion(frame.Data(), frame.Length(), serial));
    EXPECT_EQ(serial, 2u);
    nwCDNJobAcceptedRecord accepted;
    ASSERT_TRUE(
        nwReadJobAccepted(client.Seen().front().Data(), client.Seen().front().Length(), accepted));
    ASSERT_TRUE(client.Send(nwBuildResumeAnswer({accepted.engineKey, 2, 1, 0})));
    ASSERT_TRUE(client.WaitFor(kFinished, frame, 60s));
    EXPECT_EQ(Finished(frame).failureFlag, 0u);
    for (const ListedFile& f : files)
        EXPECT_EQ(Slurp(dest.Path() + f.name), Slurp(nginx.PathOf(f.name))) << f.name;
    nginx.Stop();
    EXPECT_NE(nginx.AccessLog().find("\" 206 "), std::string::npos);
}

TEST_F(EngineProgramTest, AnswerNoStartsPartialFilesOver) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("n.bin", 1 << 20, 21));
    tvxtest::TempDir dest;
    // A "partial" file whose bytes are wrong: resuming it would keep them.
    ASSERT_TRUE(tvxtest::WriteFile(dest.Path() + "n.bin", std::string(4096, 'Z')));
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(client, 3, dest.Path(), {{"n.bin", nginx.HttpUrl("/n.bin"), 1 << 20}});
    Frame frame;
    ASSERT_TRUE(client.WaitFor(kAccepted, frame));
    nwCDNJobAcceptedRecord accepted;
    ASSERT_TRUE(nwReadJobAccepted(frame.Data(), frame.Length(), accepted));
    ASSERT_TRUE(client.WaitFor(kResume, frame));
    ASSERT_TRUE(client.Send(nwBuildResumeAnswer({accepted.engineKey, 3, 0, 0})));
    ASSERT_TRUE(client.WaitFor(kFinished, frame, 30s));
    EXPECT_EQ(Finished(frame).failureFlag, 0u);
    EXPECT_EQ(Slurp(dest.Path() + "n.bin"), Slurp(nginx.PathOf("n.bin")));
}

TEST_F(EngineProgramTest, ResumingAFileAlreadyWholeKeepsIt) {
    // A stop (or a killed engine) can come after a file's last byte but
    // before its report: on resume the server answers 416, with a body.
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("w.bin", 1 << 20, 31));
    ASSERT_TRUE(nginx.WritePatternFile("h.bin", 1 << 20, 32));
    tvxtest::TempDir dest;
    const std::string whole = Slurp(nginx.PathOf("w.bin"));
    ASSERT_TRUE(tvxtest::WriteFile(dest.Path() + "w.bin", whole));
    ASSERT_TRUE(
        tvxtest::WriteFile(dest.Path() + "h.bin", Slurp(nginx.PathOf("h.bin")).substr(0, 4096)));
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(
        client, 4, dest.Path(),
        {{"w.bin", nginx.HttpUrl("/w.bin"), 1 << 20}, {"h.bin", nginx.HttpUrl("/h.bin"), 1 << 20}});
    Frame frame;
    ASSERT_TRUE(client.WaitFor(kAccepted, frame));
    nwCDNJobAcceptedRecord accepted;
    ASSERT_TRUE(nwReadJobAccepted(frame.Data(), frame.Length(), accepted));
    ASSERT_TRUE(client.WaitFor(kResume, frame));
    ASSERT_TRUE(client.Send(nwBuildResumeAnswer({accepted.engineKey, 4, 1, 0})));
    ASSERT_TRUE(client.WaitFor(kFinished, frame, 30s));
    EXPECT_EQ(Finished(frame).failureFlag, 0u);
    EXPECT_EQ(Slurp(dest.Path() + "w.bin"), whole);
    EXPECT_EQ(Slurp(dest.Path() + "h.bin"), Slurp(nginx.PathOf("h.bin")));
}

TEST_F(EngineProgramTest, DownloadsOverHttpsFromAServerTheBuildTrusts) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    ASSERT_TRUE(nginx.WritePatternFile("s1.bin", 2 << 20, 41));
    ASSERT_TRUE(nginx.WritePatternFile("s2.bin", 12345, 42));
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    // The second file's size is found over https too.
    SendJob(client, 50, dest.Path(),
            {{"s1.bin", nginx.HttpsUrl("/s1.bin"), 2 << 20},
             {"s2.bin", nginx.HttpsUrl("/s2.bin"), -1}});
    Frame frame;
    ASSERT_TRUE(client.WaitFor(kFinished, frame, 30s));
    const auto finished = Finished(frame);
    EXPECT_EQ(finished.failureFlag, 0u);
    EXPECT_EQ(finished.result, 0u);
    for (const char* name : {"s1.bin", "s2.bin"})
        EXPECT_EQ(Slurp(dest.Path() + name), Slurp(nginx.PathOf(name))) << name;
}

TEST_F(EngineProgramTest, JobsItCannotCarryFinishWithTheFailureFlag) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    // The engine trusts the build's CA, so this server's certificate is one
    // nobody trusted signed.
    tvxtest::NginxServer untrusted(
        tvxtest::NginxServer::Options{"", tvxtest::NginxServer::Certificate::kSelfSigned});
    ASSERT_TRUE(untrusted.Started()) << untrusted.Error();
    ASSERT_TRUE(untrusted.WritePatternFile("ok.bin", 1000, 31));
    ASSERT_TRUE(nginx.WritePatternFile("ok.bin", 1000, 31));
    ASSERT_TRUE(nginx.WritePatternFile("big.bin", 4 << 20, 32));
    ASSERT_TRUE(nginx.WritePatternFile("plain.bin", 1000, 33));
    // An https mirror that sends the engine to plain http.
    tvxtest::NginxServer lowering(
        {"location = /moved.bin { return 302 " + nginx.HttpUrl("/plain.bin") + "; }"});
    ASSERT_TRUE(lowering.Started()) << lowering.Error();
    tvxtest::TempDir dest;
    ASSERT_TRUE(tvxtest::WriteFile(dest.Path() + "plainfile", "x"));
    // A file system of 1 MiB for the disk-full case.
    const std::string small = dest.Path() + "small/";
    ASSERT_TRUE(tvxtest::MakeDirs(small));
    ASSERT_EQ(::mount("tvxsmall", small.c_str(), "tmpfs", 0, "size=1m"), 0);

    struct Case {
        const char* name;
        std::string folder;
        std::vector<ListedFile> files;
        uint32_t result;
        bool accepted;
        bool notice;
    };
    const std::vector<Case> cases = {
        {"every mirror gone",
         dest.Path() + "g1/",
         {{"ok.bin", nginx.HttpUrl("/ok.bin"), 1000},
          {"gone.bin", DeadUrl("/a") + "|" + nginx.HttpUrl("/missing.bin"), 1000}},
         1,
         true,
         false},
        {"size of a gone file",
         dest.Path() + "g2/",
         {{"gone.bin", DeadUrl("/a"), -1}},
         4,
         false,
         false},
        {"untrusted certificate",
         dest.Path() + "g3/",
         {{"ok.bin", untrusted.HttpsUrl("/ok.bin"), 1000}},
         1,
         true,
         false},
        {"https redirected to http",
         dest.Path() + "g5/",
         {{"moved.bin", lowering.HttpsUrl("/moved.bin"), 1000}},
         1,
         true,
         false},
        {"folder below a file",
         dest.Path() + "plainfile/sub/",
         {{"ok.bin", nginx.HttpUrl("/ok.bin"), 1000}},
         3,
         true,
         false},
        {"disk full", small, {{"big.bin", nginx.HttpUrl("/big.bin"), 4 << 20}}, 2, true, true},
    };
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    uint32_t serial = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkClient client;
        SendJob(client, ++serial, c.folder, c.files);
        Frame frame;
        ASSERT_TRUE(client.WaitFor(kFinished, frame, 30s));
        const auto finished = Finished(frame);
        EXPECT_EQ(finished.serial, serial);
        EXPECT_EQ(finished.failureFlag, 1u);
        EXPECT_EQ(finished.result, c.result);
        bool accepted = false, notice = false;
        for (const Frame& f : client.Seen()) {
            accepted = accepted || f.command == kAccepted;
            notice = notice || f.command == kNotice;
        }
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(notice, c.notice);
        if (!c.accepted) {
            EXPECT_EQ(finished.engineKey, nwCDNLocal::kNoEngineKey);
        }
    }
    ::umount(small.c_str());
    // The redirect to http was never followed: no request, no bytes.
    EXPECT_EQ(nginx.AccessLog().find("/plain.bin"), std::string::npos);
    EXPECT_LE(FileSize(dest.Path() + "g5/moved.bin"), 0);
}

TEST_F(EngineProgramTest, UnsafeNamesAndMalformedMessagesAreRefused) {
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    for (const std::string& name : {std::string("../escape.bin"), std::string("..")}) {
        LinkClient client;
        SendJob(client, 40, dest.Path(), {{name, "http://127.0.0.1:9/x", 10}});
        Frame frame;
        ASSERT_TRUE(client.WaitFor(kError, frame)) << name;
        nwCDNJobErrorRecord error;
        ASSERT_TRUE(nwReadJobError(frame.Data(), frame.Length(), error));
        EXPECT_EQ(error.serial, 40u);
    }
    EXPECT_EQ(FileSize(dest.Path() + "../escape.bin"), -1);
    // A file piece without a list begun, and an unknown command, close the client.
    for (const nwStreamMessage& bad :
         {nwBuildJobFile({1, 0, {0, 0, 1, "/tmp/", "a", "http://x/a"}}), nwBuildCommand22()}) {
        LinkClient client;
        if (bad.Bytes().size() == 16) {
            std::string unknown(reinterpret_cast<const char*>(bad.Bytes().data()), 16);
            unknown[2] = 99;
            ASSERT_TRUE(client.SendRaw(unknown));
        } else {
            ASSERT_TRUE(client.Send(bad));
        }
        EXPECT_TRUE(client.WaitClosed());
    }
    EXPECT_TRUE(engine.Running());
}

TEST_F(EngineProgramTest, ReportsNetworkDownAndUp) {
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(SetProbeInterface(false));
    Frame frame;
    ASSERT_TRUE(client.WaitFor(kDown, frame, 5s));
    ASSERT_TRUE(SetProbeInterface(true));
    ASSERT_TRUE(client.WaitFor(kUp, frame, 5s));
}

TEST_F(EngineProgramTest, EndsByItselfWhenIdle) {
    EngineProcess engine(1500ms);
    ASSERT_TRUE(engine.Ready());
    {
        // A connected client keeps it alive past the idle time.
        LinkClient client;
        ASSERT_TRUE(client.Connected());
        EXPECT_FALSE(engine.WaitForExit(3000ms));
    }
    int status = -1;
    ASSERT_TRUE(engine.WaitForExit(6000ms, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
