// The direct downloader's size check on its own: sizes found five at a time
// over mirror lists, the free-space verdicts, and a listener that deletes the
// checker when told of a failure, as the downloader does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "LibraryHarness.h"
#include "library/common/Log.h"
#include "library/direct/CPlatformFileSizeChecker.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "support/NginxServer.h"
#include "support/ScriptedHttpServer.h"

namespace {

using namespace tarvo;
using tvxtest::HttpScript;

uint16_t DeadPort() {
    tvxtest::ScriptedHttpServer server;
    return server.Port();
}

std::atomic<int64_t> gFreeBytes{0};
int64_t FixedFreeBytes(const std::string&) {
    return gFreeBytes.load();
}

class PlatformFileSizeCheckTest : public ::testing::Test, public ICheckerEventListener {
  protected:
    static constexpr uintptr_t kContext = 0x5EED;

    struct Failure {
        int32_t code;
        std::string url;
    };

    void SetUp() override {
        ASSERT_EQ(TarvoLib_Initialize(nullptr, nullptr, 0), result::kSuccess);
        folder_ = platform::TempFolder() + "sizecheck/";
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        {
            std::lock_guard guard(Lock());
            checker_.reset();
        }
        TarvoLib_Finalize();
        platform::SetFreeBytesProbe(nullptr);
    }

    cpCMutex& Lock() { return CDownloadLibThread::Instance()->Manager()->Lock(); }

    FileEntry Entry(const std::string& url, int64_t size = -1, int64_t present = 0) {
        FileEntry entry;
        entry.index = static_cast<int32_t>(entries_.size());
        entry.url = url;
        entry.folder = folder_;
        entry.name = "file" + std::to_string(entry.index);
        entry.size = size;
        entry.committedBytes = present;
        return entry;
    }
    // Starts a check over entries_ under the engine lock, as the downloader
    // does; answers how many sessions it left running.
    size_t Check() {
        std::lock_guard guard(Lock());
        checker_ = std::make_unique<CPlatformFileSizeChecker>();
        checker_->SetListener(this, kContext);
        std::vector<const FileEntry*> list;
        for (const FileEntry& entry : entries_)
            list.push_back(&entry);
        checker_->Check(list);
        return checker_ ? checker_->RunningCount() : 0;
    }
    // Waits (bounded) for the check's one report.
    bool WaitForReport() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return result_ || failure_; });
    }

    void OnSizeCheckComplete(uintptr_t context, const SizeCheckResult& result) override {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(context, kContext);
        EXPECT_FALSE(result_ || failure_);
        result_ = result;
        changed_.notify_all();
    }
    void OnSizeCheckFailed(uintptr_t context, int32_t code, const char* url) override {
        // The downloader deletes the checker right here.
        checker_.reset();
        std::lock_guard lock(mutex_);
        EXPECT_EQ(context, kContext);
        EXPECT_FALSE(result_ || failure_);
        failure_ = Failure{code, url};
        changed_.notify_all();
    }

    std::string folder_;
    std::vector<FileEntry> entries_;
    std::unique_ptr<CPlatformFileSizeChecker> checker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<SizeCheckResult> result_;
    std::optional<Failure> failure_;
};

TEST_F(PlatformFileSizeCheckTest, KnownSizesCompleteAtOnceWithTheirSums) {
    entries_ = {Entry("http://127.0.0.1:1/a", 100, 40), Entry("http://127.0.0.1:1/b", 7, 7),
                Entry("http://127.0.0.1:1/c", 1 << 30, 0)};
    Check();
    // Inside Check, without a connection.
    ASSERT_TRUE(result_.has_value());
    EXPECT_EQ(result_->totalSize, 100 + 7 + (1 << 30));
    EXPECT_EQ(result_->totalDownloaded, 47);
    EXPECT_EQ(result_->entryCount, 3);

    result_.reset();
    entries_.clear();
    Check();
    ASSERT_TRUE(result_.has_value());
    EXPECT_EQ(result_->entryCount, 0);
}

TEST_F(PlatformFileSizeCheckTest, FindsUnknownSizesFiveAtATimeOverMirrors) {
    tvxtest::NginxServer nginx({"location = /moved { return 302 /f6.bin; }"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const std::string dead = "http://127.0.0.1:" + std::to_string(DeadPort());
    int64_t expected = 0;
    for (int i = 0; i < 8; ++i) {
        const uint64_t size = 1 + static_cast<uint64_t>(i) * 1000003;
        const std::string name = "/f" + std::to_string(i) + ".bin";
        ASSERT_TRUE(nginx.WritePatternFile(name.substr(1), size));
        std::string url = nginx.HttpUrl(name);
        if (i == 1)
            url = dead + name + "|" + url;  // the first mirror refuses connections
        if (i == 2)
            url = "ftp://127.0.0.1" + name + "||" + url;  // one the layer refuses
        if (i == 3)
            url = nginx.HttpsUrl(name);
        if (i == 6)
            url = nginx.HttpUrl("/moved");
        entries_.push_back(Entry(url));
        expected += static_cast<int64_t>(size);
    }
    entries_.push_back(Entry(nginx.HttpUrl("/known"), 5000, 1234));
    EXPECT_EQ(Check(), 5u);
    ASSERT_TRUE(WaitForReport());
    ASSERT_TRUE(result_.has_value()) << failure_->url;
    EXPECT_EQ(result_->totalSize, expected + 5000);
    EXPECT_EQ(result_->totalDownloaded, 1234);
    EXPECT_EQ(result_->entryCount, 9);
    std::lock_guard guard(Lock());
    ASSERT_EQ(checker_->CheckedEntries().size(), 8u);
    EXPECT_EQ(checker_->CheckedEntries()[6].size, 1 + 6 * 1000003);
    EXPECT_EQ(checker_->RunningCount(), 0u);
    // The job's own entries keep their unknown size.
    EXPECT_EQ(entries_[0].size, -1);
}

TEST_F(PlatformFileSizeCheckTest, EveryMirrorGetsThreeAttemptsThenTheSizeIsUnknown) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/a", HttpScript::Respond(500, "broken"));
    server.On("/b", HttpScript::CloseBeforeHeader());
    server.AddRedirectChain("/c");
    server.On("/no-length", HttpScript::RespondWithoutLength(200, "some bytes"));
    server.On("/ok", HttpScript::Respond(200, "12345"));

    const std::string mirrors = server.Url("/a") + "|" + server.Url("/b") + "|" + server.Url("/c");
    entries_ = {Entry(server.Url("/ok")), Entry(mirrors)};
    Check();
    ASSERT_TRUE(WaitForReport());
    ASSERT_TRUE(failure_.has_value());
    EXPECT_EQ(failure_->code, message::kDownloadFailed);
    EXPECT_EQ(failure_->url, mirrors);
    std::vector<std::string> targets;
    for (const auto& request : server.Requests()) {
        if (request.target != "/ok")
            targets.push_back(request.target);
    }
    // In order; the redirects of c used its attempts.
    EXPECT_EQ(targets,
              (std::vector<std::string>{"/a", "/a", "/a", "/b", "/b", "/b", "/c", "/c1", "/c2"}));

    // A server that gives no length is a failed attempt like the others.
    failure_.reset();
    entries_ = {Entry(server.Url("/no-length"))};
    Check();
    ASSERT_TRUE(WaitForReport());
    ASSERT_TRUE(failure_.has_value());
    EXPECT_EQ(failure_->code, message::kDownloadFailed);
    size_t asked = 0;
    for (const auto& request : server.Requests())
        asked += request.target == "/no-length" ? 1 : 0;
    EXPECT_EQ(asked, 3u);
}

TEST_F(PlatformFileSizeCheckTest, ABrokenFirstMirrorGivesWayToTheNext) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/good", HttpScript::Respond(200, "12345"));
    server.AddRedirectLoop("/loop");
    server.On("/ftp", HttpScript::Redirect(302, "ftp://127.0.0.1/good"));
    server.On("/no-host", HttpScript::Redirect(303, "http://:81/good"));
    server.On("/garbage", HttpScript::Garbage());
    server.On("/flood", HttpScript::FloodHeader());
    server.On("/conflict", HttpScript::ConflictingLength("12345"));
    server.On("/no-length", HttpScript::RespondWithoutLength(200, "12345"));
    // Relative targets resolve against the URL that answered.
    server.On("/dir/rel", HttpScript::Redirect(302, "../good"));

    struct Case {
        const char* first;
        size_t requests;  // to the first mirror
    };
    const Case cases[] = {
        {"/loop", 3},  {"/ftp", 3},      {"/no-host", 3},   {"/garbage", 3},
        {"/flood", 3}, {"/conflict", 3}, {"/no-length", 3},
    };
    for (const Case& c : cases)
        entries_.push_back(Entry(server.Url(c.first) + "|" + server.Url("/good")));
    entries_.push_back(Entry(server.Url("/dir/rel")));
    Check();
    ASSERT_TRUE(WaitForReport());
    ASSERT_TRUE(result_.has_value()) << failure_->url;
    EXPECT_EQ(result_->totalSize, 5 * static_cast<int64_t>(std::size(cases) + 1));
    for (const Case& c : cases) {
        size_t asked = 0;
        for (const auto& request : server.Requests())
            asked += request.target == c.first ? 1 : 0;
        EXPECT_EQ(asked, c.requests) << c.first;
    }
}

// A refused server certificate is a failed attempt on that mirror: after its
// three the next mirror is asked, and without one the size stays unknown.
TEST_F(PlatformFileSizeCheckTest, MirrorThatFailsVerificationFallsThrough) {
    using Certificate = tvxtest::NginxServer::Certificate;
    tvxtest::NginxServer good;
    ASSERT_TRUE(good.Started()) << good.Error();
    ASSERT_TRUE(good.WriteFile("f.bin", "1234567"));
    for (const Certificate certificate :
         {Certificate::kSelfSigned, Certificate::kWrongHost, Certificate::kExpired}) {
        SCOPED_TRACE(static_cast<int>(certificate));
        tvxtest::NginxServer nginx({.certificate = certificate});
        ASSERT_TRUE(nginx.Started()) << nginx.Error();
        ASSERT_TRUE(nginx.WriteFile("f.bin", "1234567"));
        const std::string bad = nginx.HttpsUrl("/f.bin");
        const size_t before = tvxtest::ReadFile(LogFilePath()).size();

        result_.reset();
        failure_.reset();
        entries_ = {Entry(bad + "|" + good.HttpsUrl("/f.bin"))};
        Check();
        ASSERT_TRUE(WaitForReport());
        ASSERT_TRUE(result_.has_value()) << failure_->url;
        EXPECT_EQ(result_->totalSize, 7);

        result_.reset();
        entries_ = {Entry(bad)};
        Check();
        ASSERT_TRUE(WaitForReport());
        ASSERT_TRUE(failure_.has_value());
        EXPECT_EQ(failure_->code, message::kDownloadFailed);

        const std::string log = tvxtest::ReadFile(LogFilePath()).substr(before);
        size_t refused = 0;
        for (size_t at = log.find("] TLS: certificate of 127.0.0.1 refused: ");
             at != std::string::npos; at = log.find("] TLS: certificate of", at + 1))
            ++refused;
        EXPECT_EQ(refused, 6u) << log;
        EXPECT_EQ(nginx.AccessLog(), "");
    }
}

TEST_F(PlatformFileSizeCheckTest, AFileThatDoesNotFitIsRefusedBeforeAnyByteIsWritten) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    const int64_t length = 1000;
    server.On("/file", HttpScript::Respond(200, std::string(static_cast<size_t>(length), 'x')));
    platform::SetFreeBytesProbe(&FixedFreeBytes);

    struct Case {
        int64_t freeBytes;
        std::optional<int32_t> failure;
    };
    // Equal is refused too: the file must fit with room to spare.
    for (const Case c : {Case{length + 1, std::nullopt}, Case{length, message::kDiskFull},
                         Case{length - 1, message::kDiskFull}, Case{0, message::kDiskFull}}) {
        SCOPED_TRACE(c.freeBytes);
        gFreeBytes = c.freeBytes;
        result_.reset();
        failure_.reset();
        // Two that do not fit are still reported once.
        entries_ = {Entry(server.Url("/file")), Entry(server.Url("/file"))};
        Check();
        ASSERT_TRUE(WaitForReport());
        if (c.failure) {
            ASSERT_TRUE(failure_.has_value());
            EXPECT_EQ(failure_->code, *c.failure);
            EXPECT_EQ(failure_->url, server.Url("/file"));
            EXPECT_EQ(checker_, nullptr);
        } else {
            ASSERT_TRUE(result_.has_value());
            EXPECT_EQ(result_->totalSize, 2 * length);
        }
    }
    // Nothing was written into the entries' folder.
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

// The network's timers run on a clock the test moves: a mirror that never
// answers times out three times without the test waiting for it.
class PlatformFileSizeCheckTimeoutTest : public PlatformFileSizeCheckTest {
  protected:
    platform::ScopedManualClock clock_;
};

TEST_F(PlatformFileSizeCheckTimeoutTest, AStalledMirrorTimesOutThreeTimesThenTheNextIsUsed) {
    tvxtest::ScriptedHttpServer server;
    ASSERT_TRUE(server.Started());
    server.On("/stall", HttpScript().Stall());
    server.On("/ok", HttpScript::Respond(200, "12345"));
    entries_ = {Entry(server.Url("/stall") + "|" + server.Url("/ok"))};
    Check();
    bool reported = false;
    for (int step = 0; step < 60 && !reported; ++step) {
        clock_->Advance(900);
        std::unique_lock lock(mutex_);
        reported = changed_.wait_for(lock, std::chrono::milliseconds(60),
                                     [&] { return result_ || failure_; });
    }
    ASSERT_TRUE(reported);
    ASSERT_TRUE(result_.has_value());
    EXPECT_EQ(result_->totalSize, 5);
    std::vector<std::string> targets;
    for (const auto& request : server.Requests())
        targets.push_back(request.target);
    EXPECT_EQ(targets, (std::vector<std::string>{"/stall", "/stall", "/stall", "/ok"}));
}

}  // namespace
