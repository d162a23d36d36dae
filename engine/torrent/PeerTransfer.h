#pragma once

#include <libtorrent/fwd.hpp>
#include <libtorrent/torrent_handle.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/http/CurlFetch.h"
#include "engine/jobs/ITransferBackend.h"
#include "engine/torrent/ServerPieces.h"

namespace engine::torrent {

class PeerBackend;

// One file of a job: first its torrent metadata (<URL>.torrent) from the
// file's mirrors; with usable metadata the file comes through the backend's
// libtorrent session, otherwise, or when the torrent cannot go on, over HTTP.
// The job hears the same either way.
//
// The content server is the seed of last resort (ServerPieces): it sends at
// once what no connected peer has, and what peers have only while they give
// less than this engine's share of the server, so that a swarm takes as
// little from it as it can without being slower than plain HTTP.
class PeerTransfer final : public jobs::ITransfer,
                           private http::IFetchListener,
                           private jobs::ITransferListener {
  public:
    PeerTransfer(PeerBackend& backend, uint32_t id, jobs::TransferRequest request,
                 jobs::ITransferListener& listener);
    ~PeerTransfer() override;
    PeerTransfer(const PeerTransfer&) = delete;
    PeerTransfer& operator=(const PeerTransfer&) = delete;

    bool Start();
    int64_t BytesOnDisk() const override;

    // From the backend's alerts.
    void OnTorrentAdded(const lt::torrent_handle& handle);
    void OnTorrentRefused(const std::string& why);
    void OnTorrentFinished();
    void OnTorrentFailed(const std::string& why, bool writeError);
    void OnTorrentRemoved();
    void OnStatus(const lt::torrent_status& status);
    void OnPieceFailed(lt::piece_index_t piece);
    // Payload bytes per second from peers and from the server now.
    int64_t PeerRate() const { return peerRate_; }
    int64_t ServerRate() const { return serverRate_; }
    // Peers connected for this file now.
    int Peers() const { return peers_; }
    // Twice a second while the torrent runs: measures both sources, then
    // keeps the server as busy as the torrent needs (topUpRequests: peers are
    // too slow, so many server requests may ask for what they have too).
    void Measure();
    // requestRateLimit: bytes per second for each server request, 0 for none.
    void Tick(std::size_t topUpRequests, int64_t requestRateLimit);

  private:
    enum class State { Metadata, Adding, Torrent, Removing, Http, Over };

    void OnFetched(http::FetchOutcome outcome, std::string body,
                   const std::string& problem) override;
    void OnTransferFinished(uint32_t id, jobs::TransferOutcome outcome) override;
    void OnSizeFound(uint32_t, bool, int64_t) override {}

    bool ReadView(ServerPieces::View& view);
    bool FetchMetadata();
    bool UseMetadata(const std::string& body, std::string& why);
    void StartHttp();
    void FallBack(const std::string& why);
    void Finish(jobs::TransferOutcome outcome);
    std::string Name() const;

    PeerBackend& backend_;
    const uint32_t id_;
    const jobs::TransferRequest request_;
    jobs::ITransferListener& listener_;
    State state_ = State::Metadata;
    std::size_t mirror_ = 0;
    int64_t initialOnDisk_ = 0;
    std::unique_ptr<http::CurlFetch> fetch_;
    std::unique_ptr<jobs::ITransfer> http_;
    lt::torrent_handle handle_;

    std::shared_ptr<const lt::torrent_info> info_;
    std::unique_ptr<ServerPieces> server_;

    int64_t done_ = 0;
    int64_t payload_ = 0;  // payload bytes downloaded from peers
    bool downloading_ = false;
    int64_t peerRate_ = 0;
    int64_t serverRate_ = 0;
    int peers_ = 0;
    // The backend's last word for the server's requests (see Tick).
    std::size_t topUpRequests_ = 0;
    int64_t requestRateLimit_ = 0;
    // Server bytes handed over, at this tick and the one before.
    int64_t serverBytes_[2] = {0, 0};
    std::chrono::steady_clock::time_point lastProgress_;
    int64_t lastProgressBytes_ = -1;
};

}  // namespace engine::torrent
