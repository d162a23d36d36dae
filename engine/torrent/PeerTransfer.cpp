#include "engine/torrent/PeerTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/peer_info.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/torrent/PeerBackend.h"

namespace engine::torrent {
namespace {

using Clock = std::chrono::steady_clock;

// Torrent metadata of one game file is a few KiB; anything far larger is not one.
constexpr std::size_t kMaxMetadataBytes = 8u << 20;
// A torrent that gains nothing for this long goes on over HTTP.
constexpr auto kStallLimit = std::chrono::seconds(30);

std::string MetadataUrl(const std::string& url) {
    const std::size_t query = url.find_first_of("?#");
    if (query == std::string::npos)
        return url + ".torrent";
    return url.substr(0, query) + ".torrent" + url.substr(query);
}

int64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

std::string MiB(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

}  // namespace

PeerTransfer::PeerTransfer(PeerBackend& backend, uint32_t id, jobs::TransferRequest request,
                           jobs::ITransferListener& listener)
    : backend_(backend), id_(id), request_(std::move(request)), listener_(listener) {
    backend_.TransferLive(true);
}

PeerTransfer::~PeerTransfer() {
    fetch_.reset();
    http_.reset();
    if (state_ == State::Torrent || state_ == State::Adding || state_ == State::Removing)
        backend_.ReleaseTorrent(*this, handle_, false, false);
    backend_.TransferLive(false);
}

std::string PeerTransfer::Name() const {
    const std::size_t slash = request_.path.rfind('/');
    return slash == std::string::npos ? request_.path : request_.path.substr(slash + 1);
}

bool PeerTransfer::Start() {
    if (request_.mirrors.empty())
        return false;
    initialOnDisk_ = SizeOf(request_.path);
    // A throttled job keeps to HTTP's exact rate limit.
    if (request_.maxBytesPerSecond > 0) {
        StartHttp();
        return state_ == State::Http;
    }
    return FetchMetadata();
}

bool PeerTransfer::FetchMetadata() {
    fetch_ = std::make_unique<http::CurlFetch>(
        backend_.Http(), MetadataUrl(request_.mirrors[mirror_]), kMaxMetadataBytes,
        static_cast<http::IFetchListener&>(*this));
    return fetch_->Start();
}

int64_t PeerTransfer::BytesOnDisk() const {
    switch (state_) {
        case State::Http:
            return http_ ? http_->BytesOnDisk() : 0;
        case State::Torrent:
        case State::Over:
            return done_;
        default:
            return initialOnDisk_ <= request_.expectedSize || request_.expectedSize < 0
                       ? initialOnDisk_
                       : 0;
    }
}

void PeerTransfer::OnFetched(http::FetchOutcome outcome, std::string body,
                             const std::string& problem) {
    fetch_.reset();
    if (outcome == http::FetchOutcome::Failed && mirror_ + 1 < request_.mirrors.size()) {
        ++mirror_;
        if (!FetchMetadata())
            StartHttp();
        return;
    }
    if (outcome != http::FetchOutcome::Ok) {
        if (outcome == http::FetchOutcome::Failed)
            backend_.Log(Name() + ": no torrent metadata could be had (" + problem +
                         "), over HTTP");
        return StartHttp();
    }
    std::string why;
    if (!UseMetadata(body, why)) {
        backend_.Log(Name() + ": unusable torrent metadata (" + why + "), over HTTP");
        StartHttp();
    }
}

bool PeerTransfer::UseMetadata(const std::string& body, std::string& why) {
    lt::error_code ec;
    auto info = std::make_shared<lt::torrent_info>(lt::span<char const>(body.data(), body.size()),
                                                   ec, lt::from_span);
    if (ec) {
        why = ec.message();
        return false;
    }
    if (!info->info_hashes().has_v1()) {
        why = "no v1 info hash";
        return false;
    }
    if (info->num_files() != 1 || info->total_size() <= 0) {
        why = "not one non-empty file";
        return false;
    }
    if (request_.expectedSize >= 0 && info->total_size() != request_.expectedSize) {
        why = "its size " + std::to_string(info->total_size()) + " is not the file's " +
              std::to_string(request_.expectedSize);
        return false;
    }
    // The job's mirrors serve the pieces (ServerPieces), not libtorrent's web
    // seeds: those fetch over one connection and cannot be told which pieces.
    info->set_web_seeds({});
    info_ = info;
    lt::add_torrent_params params;
    params.ti = std::move(info);
    const std::size_t slash = request_.path.rfind('/');
    params.save_path = request_.path.substr(0, slash + 1);
    // The job's own file name, whatever the metadata calls the file.
    params.renamed_files[lt::file_index_t{0}] = request_.path.substr(slash + 1);
    params.flags &= ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
    state_ = State::Adding;
    backend_.AddTorrent(*this, std::move(params));
    return true;
}

void PeerTransfer::OnTorrentAdded(const lt::torrent_handle& handle) {
    handle_ = handle;
    state_ = State::Torrent;
    lastProgress_ = Clock::now();
    // Each engine sweeps the pieces no peer has from a starting point of its
    // own, so that engines fetching at the same time fetch different pieces.
    std::random_device random;
    server_ = std::make_unique<ServerPieces>(
        backend_.Http(), request_.mirrors, info_, handle_, random(),
        [this](ServerPieces::View& view) { return ReadView(view); },
        [this](std::string_view line) { backend_.Log(Name() + ": " + std::string(line)); });
    backend_.MarkPeerWritten(request_.path, true);
}

void PeerTransfer::OnTorrentRefused(const std::string& why) {
    backend_.Log(Name() + ": torrent not added (" + why + "), over HTTP");
    StartHttp();
}

void PeerTransfer::OnStatus(const lt::torrent_status& status) {
    if (state_ != State::Torrent)
        return;
    done_ = status.total_wanted_done;
    payload_ = status.total_payload_download;
    downloading_ = status.state == lt::torrent_status::downloading;
    if (status.is_finished)
        return OnTorrentFinished();
    const auto now = Clock::now();
    const int64_t progress = done_ + payload_;
    if (progress != lastProgressBytes_ || !downloading_) {
        lastProgressBytes_ = progress;
        lastProgress_ = now;
    } else if (now - lastProgress_ >= kStallLimit) {
        FallBack("no progress for " + std::to_string(kStallLimit.count()) + " s");
    }
}

void PeerTransfer::OnPieceFailed(lt::piece_index_t piece) {
    if (server_)
        server_->OnPieceFailed(piece);
}

void PeerTransfer::Measure() {
    if (state_ != State::Torrent || !server_) {
        peerRate_ = serverRate_ = 0;
        peers_ = 0;
        return;
    }
    const lt::torrent_status status = handle_.status(lt::status_flags_t{});
    peerRate_ = status.download_payload_rate;
    peers_ = status.num_peers;
    // Over the last second: two ticks.
    const int64_t now = server_->BytesHandedOver();
    serverRate_ = now - serverBytes_[0];
    serverBytes_[0] = serverBytes_[1];
    serverBytes_[1] = now;
}

void PeerTransfer::Tick(std::size_t topUpRequests, int64_t requestRateLimit) {
    topUpRequests_ = topUpRequests;
    requestRateLimit_ = requestRateLimit;
    if (state_ == State::Torrent && server_)
        server_->Refresh();
}

bool PeerTransfer::ReadView(ServerPieces::View& view) {
    const lt::torrent_status status = handle_.status(lt::torrent_handle::query_pieces);
    if (status.state != lt::torrent_status::downloading)
        return false;  // still checking what is on disk, or already complete
    view.have = status.pieces;
    handle_.piece_availability(view.availability);
    view.peersSending.assign(static_cast<std::size_t>(info_->num_pieces()), false);
    for (const lt::partial_piece_info& p : handle_.get_download_queue())
        if (p.requested + p.writing + p.finished > 0)
            view.peersSending[static_cast<std::size_t>(static_cast<int>(p.piece_index))] = true;
    view.topUpRequests = topUpRequests_;
    view.requestRateLimit = requestRateLimit_;
    return true;
}

void PeerTransfer::OnTorrentFinished() {
    if (state_ != State::Torrent)
        return;
    payload_ = std::max(payload_, handle_.status(lt::status_flags_t{}).total_payload_download);
    const int64_t fromServer = server_ ? server_->BytesHandedOver() : 0;
    server_.reset();  // ends requests still under way
    backend_.CountBytes(payload_, fromServer);
    backend_.Log(Name() + ": complete, " + MiB(payload_) + " from peers, " + MiB(fromServer) +
                 " from web seeds");
    backend_.MarkPeerWritten(request_.path, false);
    done_ = request_.expectedSize >= 0 ? request_.expectedSize : done_;
    Finish(jobs::TransferOutcome::Done);
}

void PeerTransfer::OnTorrentFailed(const std::string& why, bool writeError) {
    if (state_ != State::Torrent)
        return;
    if (writeError) {
        backend_.Log(Name() + ": " + why);
        return Finish(jobs::TransferOutcome::WriteFailed);
    }
    FallBack(why);
}

void PeerTransfer::FallBack(const std::string& why) {
    backend_.Log(Name() + ": torrent given up (" + why + "), over HTTP");
    server_.reset();
    state_ = State::Removing;
    backend_.ReleaseTorrent(*this, handle_, false, true);
}

void PeerTransfer::OnTorrentRemoved() {
    if (state_ == State::Removing)
        StartHttp();
}

void PeerTransfer::StartHttp() {
    // A file that a torrent wrote holds verified pieces in any order, so what
    // it holds is no prefix that a range request could continue: over HTTP it
    // starts again from nothing.
    if (backend_.IsPeerWritten(request_.path)) {
        const int fd = ::open(request_.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        backend_.MarkPeerWritten(request_.path, false);
    }
    state_ = State::Http;
    http_ = backend_.Http().StartDownload(id_, request_, *this);
    if (!http_)
        Finish(jobs::TransferOutcome::WriteFailed);
}

void PeerTransfer::OnTransferFinished(uint32_t, jobs::TransferOutcome outcome) {
    Finish(outcome);
}

void PeerTransfer::Finish(jobs::TransferOutcome outcome) {
    if (state_ == State::Over)
        return;
    server_.reset();
    if (state_ == State::Torrent)
        backend_.ReleaseTorrent(*this, handle_, outcome == jobs::TransferOutcome::Done, false);
    if (state_ == State::Http && http_)
        done_ = http_->BytesOnDisk();
    state_ = State::Over;
    // The listener may destroy this transfer: nothing is touched afterwards.
    listener_.OnTransferFinished(id_, outcome);
}

}  // namespace engine::torrent
