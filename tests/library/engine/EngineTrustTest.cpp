// The library talks only to its own user's engine and believes its reports
// only as far as the disk bears them out. The engine path runs as in use: the
// update server (nginx) installs a stand-in engine that reports ready, and the
// library connects to 127.0.0.1:57006, where the test puts either another
// user's program or a scripted engine. Each test runs in a network namespace
// of its own.
#if defined(TVX_TEST_ENGINE) && defined(TVX_HASHLIST_TOOL)

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LibraryHarness.h"
#include "UpdateTestSupport.h"
#include "library/common/Log.h"
#include "library/engine/EnginePathConfig.h"
#include "ostra/norvikqos/stack/nwStreamFrame.h"
#include "platform/FileSystem.h"
#include "support/NginxServer.h"
#include "support/OtherUser.h"
#include "support/PrivateNetwork.h"
#include "support/TempDir.h"

namespace {

using namespace tarvo;
using tvxtest::RecordingHost;

constexpr uint16_t kEnginePort = 57006;

// A loopback listener on the engine's port; -1 when it cannot be had.
int ListenOnEnginePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kEnginePort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0)
        return -1;
    return fd;
}

bool ReadyWithin(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class EngineTrustTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        // A runner that cannot make a namespace must not pass without checking.
        if (!tvxtest::EnterPrivateNetwork(why))
            FAIL() << "needs a network namespace of its own: " << why;
        SetEnginePathEnabled(true);
        nginx_ = std::make_unique<tvxtest::NginxServer>();
        ASSERT_TRUE(nginx_->Started()) << nginx_->Error();
        // The stand-in engine says it is ready at once and listens nowhere.
        ASSERT_EQ(tvxtest::Shell(TVX_SOURCE_ROOT "/tools/update_content/make-update-content.sh"
                                                 " --engine " TVX_TEST_ENGINE " --out " +
                                 tvxtest::Quoted(nginx_->DocumentRoot()) + " --base-url " +
                                 nginx_->HttpUrl("") +
                                 " --hashlist " TVX_HASHLIST_TOOL " --no-libraries"
                                 " --sign-key " TVX_TEST_PUBLISHER_KEY " --sign-tool " TVX_SIGN_TOOL
                                 " >/dev/null"),
                  0);
        SetUpdateManifestUrl(nginx_->HttpUrl(kUpdateManifestPath));
    }
    void TearDown() override {
        TarvoLib_Finalize();
        KillEngines();
        SetEnginePathEnabled(false);
    }

    // The stand-in engines started from this test's engine folder.
    static void KillEngines() {
        const std::string engine = tvxtest::EnginePath();
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            char target[4096];
            const std::string link = "/proc/" + std::string(entry->d_name) + "/exe";
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == engine)
                kill(std::atoi(entry->d_name), SIGKILL);
        }
        if (proc)
            closedir(proc);
    }

    void Initialize() {
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  result::kSuccess);
        TarvoLib_SetEngineText("halvard2");
    }
    // The files on the content server, and a job of them (sizes known) into dest_.
    JobHandle MakeJob(const std::vector<std::string>& names, uint64_t size) {
        JobHandle job = 0;
        EXPECT_EQ(TarvoLib_CreateJob(&job, "k", "halvard2"), result::kSuccess);
        uint32_t seed = 3;
        for (const std::string& name : names) {
            EXPECT_TRUE(nginx_->WritePatternFile("game/" + name, size, ++seed));
            const std::string url = nginx_->HttpUrl("/game/" + name);
            EXPECT_EQ(TarvoLib_AddFile(job, url.c_str(), dest_.c_str(), nullptr,
                                       static_cast<uint32_t>(size), 0, 0),
                      result::kSuccess);
        }
        return job;
    }
    std::string Served(const std::string& name) const {
        return tvxtest::ReadFile(nginx_->PathOf("game/" + name));
    }
    // Waits on the event itself (the direct path asks no resume question).
    bool WaitForCompletion() {
        return host_.WaitForCallback({event::kJobCompleted}, 60000) == event::kJobCompleted;
    }
    std::vector<std::string> CompletedTexts(JobHandle job) {
        std::vector<std::string> texts;
        for (;;) {
            CompletedFileRecord record{};
            if (TarvoLib_GetCompletedFile(job, &record) != result::kSuccess || record.sequence == 0)
                return texts;
            texts.emplace_back(record.text);
        }
    }

    std::unique_ptr<tvxtest::NginxServer> nginx_;
    tvxtest::TempDir destDir_{"trust-dest-"};
    std::string dest_ = destDir_.Path() + "game/";
    RecordingHost host_;
};

constexpr char kDirectBegin[] = "[TarvoLib] CPlatFormDownloader Begin";

// Another user's program on the engine's port: it accepts, records what it
// receives on a pipe ('A' per connection, 'D' per read that brought bytes),
// and ends when told, after taking every connection still waiting. Only
// system calls in the child.
int ForeignEngine(int ready, int stop, int report) {
    const int listener = ListenOnEnginePort();
    if (listener < 0 || ::fcntl(listener, F_SETFL, O_NONBLOCK) != 0 || ::write(ready, "R", 1) != 1)
        return 1;
    pollfd fds[34] = {{listener, POLLIN, 0}, {stop, POLLIN, 0}};
    int count = 2;
    for (;;) {
        if (::poll(fds, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 2;
        }
        for (int client; (client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            if (::write(report, "A", 1) != 1)
                return 3;
            if (count < 34)
                fds[count++] = {client, POLLIN, 0};
            else
                ::close(client);
        }
        for (int i = 2; i < count; ++i) {
            if (!fds[i].revents)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                if (::write(report, "D", 1) != 1)
                    return 3;
                continue;
            }
            if (n < 0 && errno == EAGAIN)
                continue;
            ::close(fds[i].fd);
            fds[i--] = fds[--count];
        }
        if (fds[1].revents)
            return 0;
    }
}

TEST_F(EngineTrustTest, AnotherUsersEngineOnThePortIsNeverToldAnything) {
    int ready[2], stop[2], report[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(report, O_CLOEXEC | O_NONBLOCK), 0);
    tvxtest::OtherUserProcess foreign([&] { return ForeignEngine(ready[1], stop[0], report[1]); });
    ASSERT_TRUE(foreign.Started());
    ASSERT_TRUE(ReadyWithin(ready[0], 10000));

    Initialize();
    const std::vector<std::string> files = {"f1.bin", "Setup.exe"};
    const JobHandle job = MakeJob(files, 300001);
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_TRUE(WaitForCompletion()) << ::testing::PrintToString(host_.CallbackCodes());
    for (const std::string& name : files)
        EXPECT_TRUE(tvxtest::ReadFile(dest_ + name) == Served(name)) << name;

    ASSERT_EQ(::write(stop[1], "S", 1), 1);
    EXPECT_EQ(foreign.Wait(), 0);
    std::string seen;
    char buffer[256];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<size_t>(n));
    for (int fd : {ready[0], ready[1], stop[0], stop[1], report[0], report[1]})
        ::close(fd);

    // Each connect reached the stranger and was dropped before a byte went
    // out: no engine text (the game id), no job, no folder, no URL.
    const std::string log = tvxtest::ReadFile(LogFilePath());
    const size_t refused =
        Count(log, "[TarvoLib] Engine port 57006 belongs to another user (uid 65534): not used");
    EXPECT_GE(refused, 1u) << log;
    EXPECT_GE(Count(seen, "A"), refused) << log;
    EXPECT_EQ(Count(seen, "D"), 0u);
    // Each refusal counted as a failed connect: the engine path ended after
    // its six launches, and the job went the direct way.
    EXPECT_EQ(Count(log, "[TarvoLib] localClosed()"), 6u) << log;
    EXPECT_NE(log.find("[TarvoLib] CEngineDownloader MaxTry Over"), std::string::npos) << log;
    EXPECT_NE(log.find(kDirectBegin), std::string::npos) << log;
}

// An engine of the test's own user that speaks the link from a script.
class ScriptedEngine {
  public:
    ScriptedEngine() : listener_(ListenOnEnginePort()) { EXPECT_EQ(::pipe2(stop_, O_CLOEXEC), 0); }
    ~ScriptedEngine() {
        [[maybe_unused]] const ssize_t n = ::write(stop_[1], "S", 1);
        if (thread_.joinable())
            thread_.join();
        for (int fd : {listener_, client_, stop_[0], stop_[1]})
            if (fd >= 0)
                ::close(fd);
    }
    bool Listening() const { return listener_ >= 0; }

    // Accepts the library, waits for its job list and answers with reports
    // built by script(serial); then holds the link open until destroyed.
    void Run(std::function<std::vector<std::string>(uint32_t serial)> script) {
        thread_ = std::thread([this, script = std::move(script)] {
            if (!ReadyWithin(listener_, 30000))
                return;
            client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            uint32_t serial = 0;
            if (client_ < 0 || !ReadJobList(serial))
                return;
            for (const std::string& frame : script(serial))
                if (::send(client_, frame.data(), frame.size(), MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(frame.size()))
                    return;
            pollfd p[2] = {{client_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            while (::poll(p, 2, 60000) > 0 && !p[1].revents) {
                char buffer[4096];
                if (::recv(client_, buffer, sizeof buffer, 0) <= 0)
                    return;
            }
        });
    }

    static std::string Frame(uint16_t command, const std::string& payload) {
        nwStreamMessage message = nwStreamMessage::Allocate(payload.size());
        std::memcpy(message.Payload(), payload.data(), payload.size());
        const auto bytes = message.Seal(256, command);
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    static std::string U32(uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i)
            s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
        return s;
    }
    static std::string Fixed(const std::string& text, size_t width) {
        std::string s = text.substr(0, width - 1);
        s.resize(width, '\0');
        return s;
    }
    static std::string Accepted(uint32_t serial, uint32_t key, uint32_t files, int64_t total) {
        return Frame(4, U32(serial) + U32(key) + U32(files) + U32(static_cast<uint32_t>(total)) +
                            U32(static_cast<uint32_t>(static_cast<uint64_t>(total) >> 32)));
    }
    static std::string FileDone(uint32_t serial, uint32_t key, const std::string& path) {
        return Frame(7, U32(serial) + U32(key) + std::string(33, '\0') + Fixed(path, 260) +
                            std::string(1, '\0'));
    }
    static std::string Finished(uint32_t serial, uint32_t key) {
        return Frame(6, U32(serial) + U32(key) + U32(0) + U32(0) + U32(0));
    }

  private:
    bool ReadExactly(std::string& out, size_t n) {
        out.resize(n);
        for (size_t done = 0; done < n;) {
            if (!ReadyWithin(client_, 30000))
                return false;
            const ssize_t got = ::recv(client_, out.data() + done, n - done, 0);
            if (got <= 0)
                return false;
            done += static_cast<size_t>(got);
        }
        return true;
    }
    bool ReadJobList(uint32_t& serial) {
        for (;;) {
            std::string header, payload;
            if (!ReadExactly(header, nwStreamFrame::kHeaderSize))
                return false;
            const auto h =
                nwStreamFrame::ReadHeader(reinterpret_cast<const uint8_t*>(header.data()));
            if (!ReadExactly(payload, h.length))
                return false;
            if (h.category == 258 && payload.size() >= 4) {
                std::memcpy(&serial, payload.data(), 4);
                return true;
            }
        }
    }

    int listener_;
    int client_ = -1;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

TEST_F(EngineTrustTest, ReportsOfPathsTheJobDidNotDownloadAreNotTaken) {
    constexpr uint64_t kSize = 200003;
    const std::vector<std::string> files = {"a.bin", "b.bin", "Setup.exe"};
    // A script of someone else's beside the download folder.
    tvxtest::TempDir outside("outside-");
    const std::string script = outside.Path() + "Setup.exe";
    ASSERT_TRUE(tvxtest::WriteFile(script, "#!/bin/sh\ntouch \"$0.ran\"\n"));

    ScriptedEngine engine;
    ASSERT_TRUE(engine.Listening());
    Initialize();
    const JobHandle job = MakeJob(files, kSize);
    // What "the engine" left on the disk: b.bin whole, a.bin half, and B.BIN
    // whole under another letter case; Setup.exe is missing.
    ASSERT_TRUE(tvxtest::WriteFile(dest_ + "b.bin", Served("b.bin")));
    ASSERT_TRUE(tvxtest::WriteFile(dest_ + "a.bin", Served("a.bin").substr(0, kSize / 2)));
    ASSERT_TRUE(tvxtest::WriteFile(dest_ + "B.BIN", Served("b.bin")));
    constexpr uint32_t kKey = 77;
    engine.Run([&](uint32_t serial) {
        return std::vector<std::string>{
            ScriptedEngine::Accepted(serial, kKey, 3, 3 * kSize),
            ScriptedEngine::FileDone(serial, kKey, script),               // outside the job
            ScriptedEngine::FileDone(serial, kKey, dest_ + "Setup.exe"),  // not on the disk
            ScriptedEngine::FileDone(serial, kKey, dest_ + "a.bin"),      // not the job's size
            ScriptedEngine::FileDone(serial, kKey, dest_ + "B.BIN"),      // not the job's name
            ScriptedEngine::FileDone(serial, kKey, dest_ + "b.bin"),      // the one true report
            ScriptedEngine::Finished(serial, kKey),
        };
    });
    ASSERT_EQ(TarvoLib_StartJob2(job, 1), result::kSuccess);
    ASSERT_TRUE(WaitForCompletion()) << ::testing::PrintToString(host_.CallbackCodes());

    // The engine's word was taken for b.bin alone; the rest came directly.
    const std::vector<std::string> texts = CompletedTexts(job);
    ASSERT_EQ(texts.size(), 3u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "," + dest_ + "b.bin");
    for (const std::string& text : texts) {
        EXPECT_EQ(text.find(outside.Path()), std::string::npos) << text;
        EXPECT_EQ(text.find("B.BIN"), std::string::npos) << text;
    }
    for (const std::string& name : files)
        EXPECT_TRUE(tvxtest::ReadFile(dest_ + name) == Served(name)) << name;
    const std::vector<int32_t> messages = tvxtest::JobMessageCodes(job);
    EXPECT_NE(std::find(messages.begin(), messages.end(), message::kEngineGaveUp), messages.end());
    const std::string log = tvxtest::ReadFile(LogFilePath());
    EXPECT_EQ(Count(log, "[TarvoLib] Engine report refused"), 4u) << log;
    EXPECT_NE(log.find("[TarvoLib] Engine finished a job with files missing"), std::string::npos);
    EXPECT_NE(log.find(kDirectBegin), std::string::npos) << log;
    // Nothing ran the stranger's script.
    EXPECT_FALSE(platform::PathExists(script + ".ran"));
}

}  // namespace

#endif
