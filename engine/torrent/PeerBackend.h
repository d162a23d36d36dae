#pragma once

#include <libtorrent/fwd.hpp>
#include <libtorrent/info_hash.hpp>
#include <libtorrent/torrent_handle.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/http/CurlBackend.h"
#include "engine/jobs/ITransferBackend.h"
#include "engine/torrent/PeerSettings.h"
#include "engine/torrent/UploadLimit.h"
#include "platform/EventLoop.h"

namespace engine::torrent {

class PeerTransfer;

// Peer-assisted downloads: a file whose torrent metadata the content server
// offers is fetched through one libtorrent session, with pieces from peers
// (tracker and local discovery) and from the file's mirrors (ServerPieces),
// which libtorrent checks alike; any other file
// goes over HTTP as before. libtorrent's alerts are drained in the engine's
// loop when its notify callback says there are some, never by polling.
//
// Sharing: the session runs only while at least one download is live; when
// the last one ends every torrent is paused, so the engine uploads only while
// one of its own jobs downloads.
class PeerBackend final : public jobs::ITransferBackend, private platform::IFdHandler {
  public:
    using LogFunction = std::function<void(std::string_view)>;

    PeerBackend(platform::EventLoop& loop, http::CurlBackend& http, PeerSettings settings,
                LogFunction log);
    ~PeerBackend() override;
    PeerBackend(const PeerBackend&) = delete;
    PeerBackend& operator=(const PeerBackend&) = delete;

    bool IsValid() const { return session_ && wakeFd_ >= 0 && timerFd_ >= 0; }

    std::unique_ptr<jobs::ITransfer> StartDownload(uint32_t id,
                                                   const jobs::TransferRequest& request,
                                                   jobs::ITransferListener& listener) override;
    std::unique_ptr<jobs::ITransfer> StartSizeProbe(uint32_t id,
                                                    const std::vector<std::string>& mirrors,
                                                    jobs::ITransferListener& listener) override;

    // For PeerTransfer.
    http::CurlBackend& Http() { return http_; }
    void Log(std::string_view line) const { log_(line); }
    // Adds (asynchronously) the owner's torrent; the owner hears OnTorrentAdded
    // or OnTorrentRefused. A torrent of the same content that an earlier,
    // finished download left seeding is removed first.
    void AddTorrent(PeerTransfer& owner, lt::add_torrent_params params);
    // The owner is done with its torrent: a complete one stays (paused while
    // nothing downloads) to share with later downloads; an incomplete one is
    // removed, and the owner, when it is still there, hears OnTorrentRemoved.
    void ReleaseTorrent(PeerTransfer& owner, const lt::torrent_handle& handle, bool complete,
                        bool tellOwner);
    void TransferLive(bool live);
    void CountBytes(int64_t fromPeers, int64_t fromServer);
    // Markers of files that a torrent wrote out of order: such a file is no
    // prefix of the content and must never be continued by a range request.
    void MarkPeerWritten(const std::string& path, bool written) const;
    bool IsPeerWritten(const std::string& path) const;

  private:
    struct Entry {
        lt::torrent_handle handle;
        PeerTransfer* owner = nullptr;
    };

    void OnFdReady(uint32_t events) override;
    void DrainAlerts();
    void Tick();
    int64_t RequestRateLimit() const;
    void AdaptUploadLimit(const lt::session_stats_alert& stats);
    void HandleAlert(lt::alert* alert);
    PeerTransfer* OwnerOf(const lt::torrent_handle& handle);
    std::string MarkerPath(const std::string& path) const;

    platform::EventLoop& loop_;
    http::CurlBackend& http_;
    const PeerSettings settings_;
    LogFunction log_;
    std::unique_ptr<lt::session> session_;
    int wakeFd_ = -1;
    int timerFd_ = -1;
    class TimerWatch;
    std::unique_ptr<TimerWatch> timerWatch_;
    int live_ = 0;
    std::chrono::steady_clock::time_point liveSince_{};  // of the downloads running now
    bool paused_ = true;
    // Torrents in the session by their v1 info hash.
    std::map<lt::sha1_hash, Entry> torrents_;
    // Adds waiting for their answer, or for the removal of a left-over copy.
    std::map<lt::sha1_hash, PeerTransfer*> adding_;
    std::map<lt::sha1_hash, std::pair<PeerTransfer*, lt::add_torrent_params>> afterRemoval_;
    // Owners waiting for their torrent's removal (to go on over HTTP).
    std::map<lt::sha1_hash, PeerTransfer*> removing_;
    int64_t sessionFromPeers_ = 0;
    int64_t sessionFromServer_ = 0;
    // The most the server has sent this engine at once (bytes per second).
    int64_t serverPeak_ = 0;
    int64_t downRate_ = 0;  // from peers and server together, at the last tick
    // Server requests per file that may ask for what peers have, as last
    // measured: 0 while peers are fast enough.
    std::size_t topUpRequests_ = 0;
    UploadLimit uploadLimit_;
    int sentBytesMetric_ = -1;
    int64_t sentBytes_[2] = {-1, -1};  // at the last two session stats
    int64_t appliedUploadLimit_ = 0;
    std::vector<lt::alert*> alerts_;
};

}  // namespace engine::torrent
