// Peer-assisted downloads of the engine program: files whose torrent metadata
// the content server offers come through libtorrent (web seed, tracker, peers),
// the others over HTTP, and the job looks the same either way.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/peer_class.hpp>
#include <libtorrent/posix_disk_io.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "TrackerProcess.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "platform/Paths.h"
#include "support/LoopbackClient.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

using namespace enginetest;

namespace {

constexpr uint16_t kAccepted = 4, kProgress = 5, kFinished = 6, kFileDone = 7, kResume = 16;

struct GameFile {
    std::string name;
    uint64_t size;
};

std::string EngineLogText() {
    return Slurp(platform::AppDataFolder() + "Brenholt/vrDownloader/vrDownload.log");
}

// The engine's log goes on from one test to the next: what one test wrote.
class LogSince {
  public:
    LogSince() : start_(EngineLogText().size()) {}
    std::string Text() const { return EngineLogText().substr(start_); }

  private:
    std::size_t start_;
};

// Another peer of the swarm: a libtorrent session seeding one file from a
// folder, announced to the torrent's tracker.
class Seeder {
  public:
    Seeder(const std::string& torrentPath, const std::string& folder, int uploadLimit = 0) {
        lt::settings_pack pack;
        pack.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
        pack.set_bool(lt::settings_pack::enable_dht, false);
        pack.set_bool(lt::settings_pack::enable_lsd, false);
        pack.set_bool(lt::settings_pack::enable_outgoing_utp, false);
        pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
        // Tracker replies and state changes wake the waits below.
        pack.set_int(lt::settings_pack::alert_mask,
                     static_cast<int>(static_cast<std::uint32_t>(lt::alert_category::tracker |
                                                                 lt::alert_category::status)));
        lt::session_params params(pack);
        params.disk_io_constructor = lt::posix_disk_io_constructor;
        session_ = std::make_unique<lt::session>(std::move(params));
        if (uploadLimit > 0) {
            // Peers on loopback are in the local class, which has no limit of its own.
            for (lt::peer_class_t cls :
                 {lt::session::global_peer_class_id, lt::session::local_peer_class_id}) {
                lt::peer_class_info info = session_->get_peer_class(cls);
                info.upload_limit = uploadLimit;
                session_->set_peer_class(cls, info);
            }
        }
        lt::add_torrent_params atp;
        atp.ti = std::make_shared<lt::torrent_info>(torrentPath);
        atp.ti->set_web_seeds({});
        atp.save_path = folder;
        handle_ = session_->add_torrent(atp);
    }

    // Each wait sleeps until libtorrent reports something, never for a guess.
    bool WaitSeeding() {
        return WaitFor([this] { return handle_.status().is_seeding; });
    }
    bool WaitAnnounced() {
        return WaitFor([this] { return announced_; });
    }

    int64_t Uploaded() const { return handle_.status().total_payload_upload; }

  private:
    bool WaitFor(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (!done()) {
            const auto left = end - std::chrono::steady_clock::now();
            if (left <= 0s)
                return false;
            session_->wait_for_alert(std::chrono::duration_cast<lt::time_duration>(left));
            std::vector<lt::alert*> alerts;
            session_->pop_alerts(&alerts);
            for (lt::alert* a : alerts) {
                if (lt::alert_cast<lt::tracker_reply_alert>(a))
                    announced_ = true;
            }
        }
        return true;
    }

    std::unique_ptr<lt::session> session_;
    lt::torrent_handle handle_;
    bool announced_ = false;
};

class PeerAssistTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(EnterPrivateNetwork(why)) << why;
    }

    // Writes the files and, for those named in withTorrent, their metadata.
    static void Publish(const tvxtest::NginxServer& nginx, const std::vector<GameFile>& files,
                        const std::vector<std::string>& withTorrent,
                        const std::string& announce = "http://127.0.0.1:6969/announce",
                        const std::string& pieceKib = "64", const std::string& whitelist = "") {
        std::string command = std::string(TVX_TORRENT_TOOL) + " --root " + nginx.DocumentRoot() +
                              " --announce " + announce + " --piece-kib " + pieceKib;
        if (!whitelist.empty())
            command += " --info-hashes " + whitelist;
        for (std::size_t i = 0; i < files.size(); ++i)
            ASSERT_TRUE(nginx.WritePatternFile(files[i].name, files[i].size,
                                               static_cast<uint32_t>(40 + i)));
        for (const std::string& name : withTorrent)
            command += " " + nginx.HttpUrl("/" + name);
        if (!withTorrent.empty()) {
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        }
    }

    static void SendJob(LinkClient& client, uint32_t serial, const std::string& folder,
                        const tvxtest::NginxServer& nginx, const std::vector<GameFile>& files) {
        // The entries only view their texts.
        std::vector<std::string> urls;
        for (const GameFile& f : files)
            urls.push_back(nginx.HttpUrl("/" + f.name));
        std::vector<nwCDNJobListEntry> entries;
        for (std::size_t i = 0; i < files.size(); ++i)
            entries.push_back(
                {0, 0, static_cast<int64_t>(files[i].size), folder, files[i].name, urls[i]});
        const nwCDNJobListHeader header{serial, static_cast<uint32_t>(files.size()), "halvard2"};
        ASSERT_TRUE(client.Send(nwBuildJobMode({2})));
        if (files.size() <= 100) {
            ASSERT_TRUE(client.Send(nwBuildJobList({header, entries})));
            return;
        }
        ASSERT_TRUE(client.Send(nwBuildJobListBegin(header)));
        for (uint32_t i = 0; i < entries.size(); ++i)
            ASSERT_TRUE(client.Send(nwBuildJobFile({serial, i, entries[i]})));
        ASSERT_TRUE(client.Send(nwBuildJobListEnd(serial)));
    }

    // Waits for the job's end and checks that it completed with every file
    // reported and byte-identical to the server's.
    static void ExpectCompleted(LinkClient& client, const tvxtest::NginxServer& nginx,
                                const std::string& folder, const std::vector<GameFile>& files,
                                std::chrono::seconds timeout = 60s) {
        Frame frame;
        ASSERT_TRUE(client.WaitFor(kFinished, frame, timeout));
        nwCDNJobFinishedRecord finished;
        ASSERT_TRUE(nwReadJobFinished(frame.Data(), frame.Length(), finished));
        EXPECT_EQ(finished.failureFlag, 0u) << EngineLogText();
        EXPECT_EQ(finished.result, 0u);
        std::size_t completed = 0;
        for (const Frame& f : client.Seen())
            completed += f.command == kFileDone;
        EXPECT_EQ(completed, files.size());
        for (const GameFile& f : files)
            EXPECT_TRUE(Slurp(folder + f.name) == Slurp(nginx.PathOf(f.name))) << f.name;
    }

    struct OneSeederOutcome {
        std::string log;  // the engine's, from before the seeder started
        double fromPeers = -1;  // MiB, by the engine's account
        double fromServer = -1;
        int64_t seederUploaded = 0;
    };

    // One file behind nginx (with extra directives) and a tracker, one
    // libtorrent seeder of the whole file at seederLimit bytes per second,
    // and the engine downloading the file as job serial.
    static void DownloadBesideOneSeeder(const std::string& nginxDirectives, const GameFile& file,
                                        int seederLimit, uint32_t serial, OneSeederOutcome& out) {
        TrackerProcess tracker;
        tvxtest::NginxServer nginx({nginxDirectives});
        ASSERT_TRUE(nginx.Started()) << nginx.Error();
        const std::vector<GameFile> files = {file};
        Publish(nginx, files, {file.name}, tracker.AnnounceUrl(), "64", tracker.WhitelistPath());
        ASSERT_TRUE(tracker.Start());
        tvxtest::TempDir seeds;
        std::ofstream(seeds.Path() + file.name, std::ios::binary)
            << Slurp(nginx.PathOf(file.name));
        Seeder seeder(nginx.PathOf(file.name + ".torrent"), seeds.Path(), seederLimit);
        const LogSince since;
        ASSERT_TRUE(seeder.WaitSeeding());
        ASSERT_TRUE(seeder.WaitAnnounced());

        tvxtest::TempDir dest;
        EngineProcess engine;
        ASSERT_TRUE(engine.Ready());
        LinkClient client;
        SendJob(client, serial, dest.Path(), nginx, files);
        ExpectCompleted(client, nginx, dest.Path(), files, 90s);
        out.seederUploaded = seeder.Uploaded();
        out.log = since.Text();
        ASSERT_TRUE(Sources(out.log, file.name, out.fromPeers, out.fromServer)) << out.log;
    }

    // The engine's account of where a completed file came from, in MiB.
    static bool Sources(const std::string& log, const std::string& name, double& fromPeers,
                        double& fromServer) {
        const std::size_t at = log.find(name + ": complete, ");
        return at != std::string::npos &&
               std::sscanf(log.c_str() + at + name.size(),
                           ": complete, %lf MiB from peers, %lf MiB", &fromPeers,
                           &fromServer) == 2;
    }

    static std::size_t Count(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1))
            ++n;
        return n;
    }
};

TEST_F(PeerAssistTest, FilesWithMetadataCompleteFromTheWebSeedAloneWithoutPeers) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    // No tracker runs: the announces fail and nobody else has the files.
    const std::vector<GameFile> files = {
        {"p1.bin", 20 << 20}, {"p2.bin", (1 << 20) + 7}, {"p3.bin", 300001}};
    Publish(nginx, files, {"p1.bin", "p2.bin", "p3.bin"});
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(client, 3, dest.Path(), nginx, files);
    ExpectCompleted(client, nginx, dest.Path(), files);
    EXPECT_GE(Count(EngineLogText(), "0.0 MiB from peers"), 3u) << EngineLogText();

    nginx.Stop();
    const std::string log = nginx.AccessLog();
    for (const GameFile& f : files) {
        EXPECT_NE(log.find("GET /" + f.name + ".torrent HTTP/1.1\" 200"), std::string::npos);
        // The web seed asks for ranges; a plain HTTP download would be one 200.
        EXPECT_EQ(log.find("GET /" + f.name + " HTTP/1.1\" 200"), std::string::npos) << f.name;
        EXPECT_NE(log.find("GET /" + f.name + " HTTP/1.1\" 206"), std::string::npos) << f.name;
    }
}

TEST_F(PeerAssistTest, FilesWithoutUsableMetadataComeOverPlainHttp) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const std::vector<GameFile> files = {
        {"m1.bin", 3 << 20}, {"none.bin", 2 << 20}, {"junk.bin", 1 << 20}, {"size.bin", 1 << 20}};
    Publish(nginx, files, {"m1.bin", "size.bin"});
    // Metadata that is not a torrent, and one for a file of another size.
    ASSERT_TRUE(nginx.WriteFile("junk.bin.torrent", "d8:announce3:xyze"));
    ASSERT_TRUE(nginx.WritePatternFile("size.bin", (1 << 20) + 1, 9));
    std::vector<GameFile> job = files;
    job[3].size = (1 << 20) + 1;
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(client, 4, dest.Path(), nginx, job);
    ExpectCompleted(client, nginx, dest.Path(), job);

    nginx.Stop();
    const std::string log = nginx.AccessLog();
    EXPECT_NE(log.find("GET /none.bin.torrent HTTP/1.1\" 404"), std::string::npos);
    for (const char* plain : {"none.bin", "junk.bin", "size.bin"})
        EXPECT_NE(log.find(std::string("GET /") + plain + " HTTP/1.1\" 200"), std::string::npos)
            << plain;
    EXPECT_NE(log.find("GET /m1.bin HTTP/1.1\" 206"), std::string::npos);
    EXPECT_NE(EngineLogText().find("size.bin: unusable torrent metadata"), std::string::npos);
}

TEST_F(PeerAssistTest, StopThenResumeRechecksAndCompletesByteIdentical) {
    // nginx lets each answer start with a second's worth at once: a pace well
    // below the engine's request size.
    tvxtest::NginxServer nginx({"limit_rate 512k;"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const std::vector<GameFile> files = {{"s1.bin", 12 << 20}, {"s2.bin", 10 << 20}};
    Publish(nginx, files, {"s1.bin", "s2.bin"});
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    {
        LinkClient client;
        SendJob(client, 1, dest.Path(), nginx, files);
        Frame frame;
        ASSERT_TRUE(client.WaitFor(kAccepted, frame));
        nwCDNJobAcceptedRecord accepted;
        ASSERT_TRUE(nwReadJobAccepted(frame.Data(), frame.Length(), accepted));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(client.WaitFor(kProgress, frame));
        ASSERT_TRUE(client.Send(nwBuildStopJob({1, accepted.engineKey})));
        EXPECT_FALSE(client.WaitFor(kFinished, frame, 1500ms));
    }
    for (const GameFile& f : files)
        EXPECT_GT(FileSize(dest.Path() + f.name), 0) << f.name;
    // Damage a piece of what was written: the recheck must find and refetch it.
    {
        const int fd = ::open((dest.Path() + "s1.bin").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "XXXX", 4, 100), 4);
        ::close(fd);
    }
    LinkClient client;
    SendJob(client, 2, dest.Path(), nginx, files);
    Frame frame;
    ASSERT_TRUE(client.WaitFor(kResume, frame));
    nwCDNJobAcceptedRecord accepted;
    ASSERT_TRUE(
        nwReadJobAccepted(client.Seen().front().Data(), client.Seen().front().Length(), accepted));
    ASSERT_TRUE(client.Send(nwBuildResumeAnswer({accepted.engineKey, 2, 1, 0})));
    ExpectCompleted(client, nginx, dest.Path(), files);
}

// A peer that seeds a corrupted copy: libtorrent bans it, the file still
// completes from the web seed, identical to the server's.
TEST_F(PeerAssistTest, PeerWithBadPiecesIsBannedAndCostsOnlyTime) {
    TrackerProcess tracker;
    tvxtest::NginxServer nginx({"limit_rate 1m;"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const std::vector<GameFile> files = {{"bad.bin", 12 << 20}};
    Publish(nginx, files, {"bad.bin"}, tracker.AnnounceUrl(), "64", tracker.WhitelistPath());
    ASSERT_TRUE(tracker.Start());

    tvxtest::TempDir seeds;
    const std::string copy = seeds.Path() + "bad.bin";
    std::ofstream(copy, std::ios::binary) << Slurp(nginx.PathOf("bad.bin"));
    Seeder seeder(nginx.PathOf("bad.bin.torrent"), seeds.Path());
    // Checked while good, so it claims every piece; then spoiled on disk.
    ASSERT_TRUE(seeder.WaitSeeding());
    {
        const int fd = ::open(copy.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        for (off_t at = 1000; at < static_cast<off_t>(files[0].size); at += 64 << 10)
            ASSERT_EQ(::pwrite(fd, "\xff\x00\xff", 3, at), 3);
        ::close(fd);
    }
    ASSERT_TRUE(seeder.WaitAnnounced());

    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(client, 7, dest.Path(), nginx, files);
    ExpectCompleted(client, nginx, dest.Path(), files, 90s);
    const std::string log = EngineLogText();
    EXPECT_NE(log.find("failed its hash check"), std::string::npos) << log;
    EXPECT_NE(log.find(" banned: it sent pieces that failed their hash check"), std::string::npos)
        << log;
}

// A tracker that takes connections and never answers: a fresh torrent
// that waited for its tracker before it used the content server would wait
// for its announce to time out.
class SilentTracker {
  public:
    explicit SilentTracker(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listening_ = fd_ >= 0 &&
                     ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(fd_, 64) == 0;
    }
    ~SilentTracker() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Listening() const { return listening_; }

  private:
    int fd_ = -1;
    bool listening_ = false;
};

// Requests nginx is answering right now, besides the one that asks.
int RequestsInFlight(const tvxtest::NginxServer& nginx) {
    const std::string reply =
        tvxtest::LoopbackExchange(nginx.HttpPort(),
                                  "GET /status HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            .bytes;
    const std::size_t at = reply.find("Writing: ");
    return at == std::string::npos ? -1 : std::atoi(reply.c_str() + at + 9) - 1;
}

// A lone engine fills the pipe as the HTTP path does: it asks the content
// server at once, whatever its tracker does, and with several byte ranges in
// flight, so that a server's per-connection pace does not bound it.
TEST_F(PeerAssistTest, ALoneEngineAsksTheServerAtOnceWithSeveralRangesInFlight) {
    SilentTracker tracker(6969);
    ASSERT_TRUE(tracker.Listening());
    tvxtest::NginxServer nginx({"limit_rate 512k; location = /status { stub_status; }"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    const std::vector<GameFile> files = {{"lone.bin", 8 << 20}};
    Publish(nginx, files, {"lone.bin"});
    const LogSince since;
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(client, 10, dest.Path(), nginx, files);
    // Looked at once a second, with each progress report; one connection at
    // its pace would need 16 s, the tracker's announce longer still.
    int most = 0;
    Frame frame;
    for (int report = 0; report < 10 && most < 2; ++report) {
        ASSERT_TRUE(client.WaitFor(kProgress, frame, 10s)) << since.Text();
        most = std::max(most, RequestsInFlight(nginx));
    }
    EXPECT_GE(most, 2) << "requests in flight at most";
    ExpectCompleted(client, nginx, dest.Path(), files);
    EXPECT_NE(since.Text().find("lone.bin: complete, 0.0 MiB from peers, 8.0 MiB from web seeds"),
              std::string::npos)
        << since.Text();
}

// A peer that has the whole file but gives it slowly: the content server
// sends what that peer has too, so the file arrives at about the server's
// rate, most of it from the server.
TEST_F(PeerAssistTest, SlowPeerDoesNotHoldAFileBelowTheServersRate) {
    OneSeederOutcome out;
    DownloadBesideOneSeeder("limit_rate 512k;", {"slow.bin", 16 << 20}, 192 << 10, 8, out);
    if (HasFatalFailure())
        return;
    EXPECT_GT(out.seederUploaded, 0) << "the peer took no part";
    // Once the peer is there, every piece is one a peer has.
    EXPECT_GT(out.fromServer, 2 * out.fromPeers) << out.log;
    EXPECT_NE(out.log.find("the server tops up"), std::string::npos) << out.log;
}

// A peer that has the whole file and gives it faster than the server: the
// server's first requests, made before the engine heard of the peer, end
// once the peer turns up, and the peer sends the rest.
TEST_F(PeerAssistTest, APeerWithTheFileTakesOverFromTheServersFirstRequests) {
    OneSeederOutcome out;
    DownloadBesideOneSeeder("limit_rate 256k;", {"shared.bin", 32 << 20}, 4 << 20, 9, out);
    if (HasFatalFailure())
        return;
    // The three 2 MiB requests made at once would have brought 6 MiB while
    // the peer sent the file, had they run to their end.
    EXPECT_LT(out.fromServer, 3.0) << out.log;
    EXPECT_EQ(out.log.find("the server tops up"), std::string::npos) << out.log;
}

TEST_F(PeerAssistTest, GameOfAThousandSmallTorrents) {
    tvxtest::NginxServer nginx;
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    std::vector<GameFile> files;
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        files.push_back({"f" + std::to_string(i) + ".dat", static_cast<uint64_t>(1000 + 37 * i)});
        names.push_back(files.back().name);
    }
    Publish(nginx, files, names, "http://127.0.0.1:6969/announce", "16");
    const LogSince log;
    tvxtest::TempDir dest;
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());
    LinkClient client;
    SendJob(client, 9, dest.Path(), nginx, files);
    ExpectCompleted(client, nginx, dest.Path(), files, 110s);
    EXPECT_EQ(Count(log.Text(), ": complete, "), files.size());
}

}  // namespace
