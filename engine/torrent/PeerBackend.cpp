#include "engine/torrent/PeerBackend.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/posix_disk_io.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/session_stats.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "engine/torrent/PeerTransfer.h"

namespace engine::torrent {
namespace {

constexpr long kTickMs = 500;
// Peers get this long from the engine's first live download on to come up to
// speed (be connected, unchoked, asked for pieces) before they are judged too
// slow; meanwhile the server already sends what no peer has.
constexpr auto kPeersRampUp = std::chrono::seconds(3);

std::string MiB(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

lt::settings_pack SessionSettings(const PeerSettings& s) {
    lt::settings_pack pack;
    pack.set_int(
        lt::settings_pack::alert_mask,
        static_cast<int>(static_cast<std::uint32_t>(
            lt::alert_category::status | lt::alert_category::error | lt::alert_category::peer |
            lt::alert_category::storage | lt::alert_category::stats)));
    pack.set_str(lt::settings_pack::listen_interfaces, "0.0.0.0:" + std::to_string(s.listenPort));
    pack.set_str(lt::settings_pack::user_agent, "vrDownload");
    // Peers come from the tracker and the local network only.
    pack.set_bool(lt::settings_pack::enable_dht, false);
    pack.set_bool(lt::settings_pack::enable_lsd, true);
    pack.set_bool(lt::settings_pack::enable_upnp, false);
    pack.set_bool(lt::settings_pack::enable_natpmp, false);
    // Several engines on one machine share an address.
    pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    // Plain TCP between peers. libtorrent would try uTP first with every peer
    // a tracker names, and its user-space congestion control delivers a small
    // fraction of what TCP does on a local network, at a high cost in CPU.
    pack.set_bool(lt::settings_pack::enable_outgoing_utp, false);
    pack.set_bool(lt::settings_pack::enable_incoming_utp, false);
    // An adaptive limit starts with a probe: no limit.
    pack.set_int(lt::settings_pack::upload_rate_limit,
                 s.adaptiveUpload ? 0 : static_cast<int>(s.uploadLimit));
    pack.set_int(lt::settings_pack::download_rate_limit, static_cast<int>(s.downloadLimit));
    // Every interested peer is served at once. The swarm is the game's own
    // players, each sharing only while it downloads, so there is nobody to
    // hold back with tit-for-tat, and a newcomer with nothing to trade yet
    // would otherwise wait for an optimistic unchoke (every 30 s).
    pack.set_int(lt::settings_pack::unchoke_slots_limit, -1);
    return pack;
}

}  // namespace

// The policy tick, in the loop like every other timer.
class PeerBackend::TimerWatch final : public platform::IFdHandler {
  public:
    explicit TimerWatch(PeerBackend& backend) : backend_(backend) {}
    void OnFdReady(uint32_t) override {
        uint64_t expirations = 0;
        if (::read(backend_.timerFd_, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
            return;
        backend_.Tick();
    }

  private:
    PeerBackend& backend_;
};

PeerBackend::PeerBackend(platform::EventLoop& loop, http::CurlBackend& http, PeerSettings settings,
                         LogFunction log)
    : loop_(loop), http_(http), settings_(std::move(settings)), log_(std::move(log)) {
    sentBytesMetric_ = lt::find_metric_idx("net.sent_bytes");
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (wakeFd_ < 0 || timerFd_ < 0)
        return;
    lt::session_params params(SessionSettings(settings_));
    // Plain reads and writes: a file that someone truncates under a torrent
    // gives a read error, never a fault in a mapping.
    params.disk_io_constructor = lt::posix_disk_io_constructor;
    session_ = std::make_unique<lt::session>(std::move(params));
    // Nothing downloads yet, so nothing is shared.
    session_->pause();
    // Called on libtorrent's thread: only wakes the loop.
    const int fd = wakeFd_;
    session_->set_alert_notify([fd] {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    });
    loop_.Watch(wakeFd_, EPOLLIN, this);
    timerWatch_ = std::make_unique<TimerWatch>(*this);
    loop_.Watch(timerFd_, EPOLLIN, timerWatch_.get());
    itimerspec spec{};
    spec.it_interval.tv_nsec = spec.it_value.tv_nsec = kTickMs * 1000000L;
    ::timerfd_settime(timerFd_, 0, &spec, nullptr);
}

PeerBackend::~PeerBackend() {
    // Transfers belong to jobs and are gone before the backend.
    if (session_) {
        session_->set_alert_notify([] {});
        session_.reset();  // waits for libtorrent's threads
    }
    if (timerFd_ >= 0) {
        if (timerWatch_)
            loop_.Unwatch(timerFd_, timerWatch_.get());
        ::close(timerFd_);
    }
    if (wakeFd_ >= 0) {
        loop_.Unwatch(wakeFd_, this);
        ::close(wakeFd_);
    }
}

std::unique_ptr<jobs::ITransfer> PeerBackend::StartDownload(uint32_t id,
                                                            const jobs::TransferRequest& request,
                                                            jobs::ITransferListener& listener) {
    auto transfer = std::make_unique<PeerTransfer>(*this, id, request, listener);
    if (!transfer->Start())
        return nullptr;
    return transfer;
}

std::unique_ptr<jobs::ITransfer> PeerBackend::StartSizeProbe(
    uint32_t id, const std::vector<std::string>& mirrors, jobs::ITransferListener& listener) {
    return http_.StartSizeProbe(id, mirrors, listener);
}

void PeerBackend::TransferLive(bool live) {
    live_ += live ? 1 : -1;
    if (live_ > 0 && paused_) {
        paused_ = false;
        liveSince_ = std::chrono::steady_clock::now();
        session_->resume();
    } else if (live_ == 0 && !paused_) {
        paused_ = true;
        session_->pause();
        sentBytes_[0] = sentBytes_[1] = -1;
        if (sessionFromPeers_ + sessionFromServer_ > 0) {
            const int64_t all = sessionFromPeers_ + sessionFromServer_;
            log_("peer-assisted downloads: " + MiB(sessionFromPeers_) + " from peers (" +
                 std::to_string(sessionFromPeers_ * 100 / all) + " %), " + MiB(sessionFromServer_) +
                 " from web seeds; sharing paused");
        } else {
            log_("nothing downloads: sharing paused");
        }
        sessionFromPeers_ = sessionFromServer_ = 0;
    }
}

void PeerBackend::CountBytes(int64_t fromPeers, int64_t fromServer) {
    sessionFromPeers_ += fromPeers;
    sessionFromServer_ += fromServer;
}

void PeerBackend::AddTorrent(PeerTransfer& owner, lt::add_torrent_params params) {
    const lt::sha1_hash hash = params.ti->info_hashes().v1;
    const auto existing = torrents_.find(hash);
    if (adding_.count(hash) || afterRemoval_.count(hash) || removing_.count(hash) ||
        (existing != torrents_.end() && existing->second.owner)) {
        // The same content is being fetched for another file right now.
        return owner.OnTorrentRefused("the same content is already downloading");
    }
    if (existing != torrents_.end()) {
        // Left seeding by an earlier download: out first, then in anew for
        // this file, which is checked again from what is on disk.
        afterRemoval_.emplace(hash, std::make_pair(&owner, std::move(params)));
        session_->remove_torrent(existing->second.handle);
        return;
    }
    adding_.emplace(hash, &owner);
    session_->async_add_torrent(std::move(params));
}

void PeerBackend::ReleaseTorrent(PeerTransfer& owner, const lt::torrent_handle& handle,
                                 bool complete, bool tellOwner) {
    for (auto* pending : {&adding_, &removing_})
        std::erase_if(*pending, [&](const auto& e) { return e.second == &owner; });
    std::erase_if(afterRemoval_, [&](const auto& e) { return e.second.first == &owner; });
    for (auto& [hash, entry] : torrents_) {
        if (entry.owner != &owner || !(entry.handle == handle))
            continue;
        entry.owner = nullptr;
        if (complete)
            return;
        if (tellOwner)
            removing_.emplace(hash, &owner);
        session_->remove_torrent(handle);
        return;
    }
}

void PeerBackend::OnFdReady(uint32_t) {
    uint64_t count = 0;
    if (::read(wakeFd_, &count, sizeof count) < 0 && errno != EAGAIN)
        return;
    DrainAlerts();
}

void PeerBackend::DrainAlerts() {
    // Alerts stay valid until the next pop; owners may end inside a handler.
    session_->pop_alerts(&alerts_);
    for (lt::alert* alert : alerts_)
        HandleAlert(alert);
}

PeerTransfer* PeerBackend::OwnerOf(const lt::torrent_handle& handle) {
    for (auto& [hash, entry] : torrents_)
        if (entry.handle == handle)
            return entry.owner;
    return nullptr;
}

void PeerBackend::HandleAlert(lt::alert* alert) {
    if (auto* a = lt::alert_cast<lt::add_torrent_alert>(alert)) {
        const lt::sha1_hash hash = a->params.ti ? a->params.ti->info_hashes().v1 : lt::sha1_hash();
        const auto pending = adding_.find(hash);
        PeerTransfer* owner = pending != adding_.end() ? pending->second : nullptr;
        if (pending != adding_.end())
            adding_.erase(pending);
        if (a->error) {
            if (owner)
                owner->OnTorrentRefused(a->error.message());
            return;
        }
        torrents_[hash] = Entry{a->handle, owner};
        if (owner)
            owner->OnTorrentAdded(a->handle);
        else
            session_->remove_torrent(a->handle);  // its transfer ended meanwhile
        return;
    }
    if (auto* a = lt::alert_cast<lt::torrent_removed_alert>(alert)) {
        const lt::sha1_hash hash = a->info_hashes.v1;
        torrents_.erase(hash);
        if (auto waiting = removing_.find(hash); waiting != removing_.end()) {
            PeerTransfer* owner = waiting->second;
            removing_.erase(waiting);
            owner->OnTorrentRemoved();
        }
        if (auto next = afterRemoval_.find(hash); next != afterRemoval_.end()) {
            auto [owner, params] = std::move(next->second);
            afterRemoval_.erase(next);
            adding_.emplace(hash, owner);
            session_->async_add_torrent(std::move(params));
        }
        return;
    }
    if (auto* a = lt::alert_cast<lt::state_update_alert>(alert)) {
        for (const lt::torrent_status& status : a->status)
            if (PeerTransfer* owner = OwnerOf(status.handle))
                owner->OnStatus(status);
        return;
    }
    if (auto* a = lt::alert_cast<lt::torrent_finished_alert>(alert)) {
        if (PeerTransfer* owner = OwnerOf(a->handle))
            owner->OnTorrentFinished();
        return;
    }
    if (auto* a = lt::alert_cast<lt::file_error_alert>(alert)) {
        if (PeerTransfer* owner = OwnerOf(a->handle))
            owner->OnTorrentFailed(a->message(), true);
        return;
    }
    if (auto* a = lt::alert_cast<lt::torrent_error_alert>(alert)) {
        if (PeerTransfer* owner = OwnerOf(a->handle))
            owner->OnTorrentFailed(a->message(), false);
        return;
    }
    if (auto* a = lt::alert_cast<lt::state_changed_alert>(alert)) {
        // A torrent ready to download asks the server at once, not at the
        // next tick.
        if (a->state == lt::torrent_status::downloading)
            if (PeerTransfer* owner = OwnerOf(a->handle))
                owner->Tick(topUpRequests_, RequestRateLimit());
        return;
    }
    if (auto* a = lt::alert_cast<lt::session_stats_alert>(alert)) {
        AdaptUploadLimit(*a);
        return;
    }
    if (auto* a = lt::alert_cast<lt::hash_failed_alert>(alert)) {
        if (PeerTransfer* owner = OwnerOf(a->handle))
            owner->OnPieceFailed(a->piece_index);
        log_("piece " + std::to_string(static_cast<int>(a->piece_index)) + " of " +
             a->torrent_name() + " failed its hash check");
        return;
    }
    if (auto* a = lt::alert_cast<lt::peer_ban_alert>(alert)) {
        log_("peer " + a->endpoint.address().to_string() + ":" +
             std::to_string(a->endpoint.port()) +
             " banned: it sent pieces that failed their hash check");
        return;
    }
    if (auto* a = lt::alert_cast<lt::listen_succeeded_alert>(alert)) {
        if (a->socket_type == lt::socket_type_t::tcp)
            log_("peers: listening on port " + std::to_string(a->port));
        return;
    }
    if (auto* a = lt::alert_cast<lt::listen_failed_alert>(alert)) {
        log_("peers: " + a->message());
        return;
    }
}

void PeerBackend::Tick() {
    if (live_ == 0)
        return;
    session_->post_torrent_updates();
    if (settings_.adaptiveUpload)
        session_->post_session_stats();
    int64_t fromPeers = 0;
    int64_t fromServer = 0;
    int peers = 0;
    for (auto& [hash, entry] : torrents_) {
        if (!entry.owner)
            continue;
        entry.owner->Measure();
        fromPeers += entry.owner->PeerRate();
        fromServer += entry.owner->ServerRate();
        peers = std::max(peers, entry.owner->Peers());
    }
    downRate_ = fromPeers + fromServer;
    serverPeak_ = std::max(serverPeak_, fromServer);
    // Peers are too slow when they give less than this engine's share of the
    // server: the fastest the server has served it, shared with the peers it
    // is connected to (engines share only while they download, so each is a
    // downloader too). That is about what plain HTTP would give it, however
    // busy the server is right now: the server's latest rate is low exactly
    // when it is busy, and the engine's downlink says nothing of the server.
    const int64_t share = serverPeak_ / (peers + 1);
    const bool rampedUp = std::chrono::steady_clock::now() - liveSince_ >= kPeersRampUp;
    // The further peers fall short of that share, the more of a file's
    // requests may ask the server for what they have: one when they nearly
    // make it, as plain HTTP asks for a file, all when they give nothing.
    std::size_t topUpRequests = 0;
    if (rampedUp && fromPeers < share) {
        const auto shortfall = static_cast<double>(share - fromPeers) / static_cast<double>(share);
        topUpRequests = std::clamp<std::size_t>(
            static_cast<std::size_t>(std::ceil(shortfall * ServerPieces::kRequests)), 1,
            ServerPieces::kRequests);
    }
    if ((topUpRequests > 0) != (topUpRequests_ > 0))
        log_(topUpRequests > 0
                 ? "peers give " + MiB(fromPeers) + "/s, less than this engine's share of the " +
                       "server (" + MiB(share) + "/s with " + std::to_string(peers) +
                       " peers): the server tops up"
                 : "peers give " + MiB(fromPeers) + "/s: the server sends only what they lack");
    topUpRequests_ = topUpRequests;
    for (auto& [hash, entry] : torrents_)
        if (entry.owner)
            entry.owner->Tick(topUpRequests_, RequestRateLimit());
}

int64_t PeerBackend::RequestRateLimit() const {
    if (settings_.downloadLimit == 0)
        return 0;
    // The server's requests keep to the download limit together, as far as
    // the live downloads may all have theirs in flight.
    const int64_t requests = std::max(1, live_) * static_cast<int64_t>(ServerPieces::kRequests);
    return std::max<int64_t>(1024, settings_.downloadLimit / requests);
}

void PeerBackend::AdaptUploadLimit(const lt::session_stats_alert& stats) {
    if (sentBytesMetric_ < 0 || paused_)
        return;
    const auto counters = stats.counters();
    const int64_t sent = counters[static_cast<std::size_t>(sentBytesMetric_)];
    // Over the last second (two ticks), which evens out the limiter's bursts.
    const int64_t before = sentBytes_[0];
    sentBytes_[0] = sentBytes_[1];
    sentBytes_[1] = sent;
    if (before < 0)
        return;
    const int64_t uplink = uploadLimit_.MeasuredUplink();
    const int64_t limit =
        uploadLimit_.OnSample(sent - before, downRate_, std::chrono::steady_clock::now());
    if (limit == appliedUploadLimit_)
        return;
    appliedUploadLimit_ = limit;
    lt::settings_pack pack;
    pack.set_int(lt::settings_pack::upload_rate_limit, static_cast<int>(limit));
    session_->apply_settings(std::move(pack));
    if (limit != 0 && uploadLimit_.MeasuredUplink() != uplink)
        log_("upload limit " + MiB(limit) + "/s (uplink measured at " +
             MiB(uploadLimit_.MeasuredUplink()) + "/s)");
}

std::string PeerBackend::MarkerPath(const std::string& path) const {
    char name[32];
    std::snprintf(name, sizeof name, "%016zx", std::hash<std::string>{}(path));
    return settings_.stateFolder + "peer-written/" + name;
}

void PeerBackend::MarkPeerWritten(const std::string& path, bool written) const {
    if (settings_.stateFolder.empty())
        return;
    const std::string marker = MarkerPath(path);
    if (!written) {
        ::unlink(marker.c_str());
        return;
    }
    ::mkdir((settings_.stateFolder + "peer-written").c_str(), 0755);
    std::ofstream(marker, std::ios::trunc) << path << '\n';
}

bool PeerBackend::IsPeerWritten(const std::string& path) const {
    if (settings_.stateFolder.empty())
        return false;
    std::ifstream in(MarkerPath(path));
    std::string named;
    return std::getline(in, named) && named == path;
}

}  // namespace engine::torrent
