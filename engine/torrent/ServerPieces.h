#pragma once

#include <libtorrent/bitfield.hpp>
#include <libtorrent/fwd.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/units.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/http/CurlRangeFetch.h"

namespace engine::torrent {

// The content server as the seed of last resort for one torrent. The engine
// fetches pieces itself over HTTP, several byte ranges at once, and hands each
// whole piece to libtorrent, which checks it like a piece from a peer:
// - pieces that no connected peer has come from the server at once, each
//   engine sweeping them from its own random starting point, so that the
//   copies a swarm takes from the server differ and peers can trade them;
// - pieces that peers have come from peers, unless the engine is told to top
//   up (its peers give less than its share of the server): then the server
//   also sends the rarest pieces that no peer is sending right now, over as
//   many requests as the engine is told, and at the end, when peers that give
//   less than a third of what they should are sending every piece left, those
//   pieces too.
class ServerPieces {
  public:
    using LogFunction = std::function<void(std::string_view)>;
    struct View;
    // Fills in libtorrent's view of the torrent now; false while it cannot
    // take pieces (still checking, or complete).
    using ViewFunction = std::function<bool(View&)>;

    // Requests in flight per torrent: enough that the gap between one range
    // and the next on a connection never leaves the pipe idle.
    static constexpr std::size_t kRequests = 3;

    // What libtorrent says of the torrent: read twice a second and whenever a
    // request ends, so that the next request knows of the peers that came
    // meanwhile.
    struct View {
        lt::typed_bitfield<lt::piece_index_t> have;
        std::vector<int> availability;   // by piece: connected peers that have it
        std::vector<bool> peersSending;  // by piece: in libtorrent's download queue
        // Requests that may ask for pieces peers have too (topping up), at
        // most kRequests; 0 while peers are fast enough.
        std::size_t topUpRequests = 0;
        // Bytes per second for each request, 0 for no limit: the engine's
        // download limit shared among the requests it may have.
        int64_t requestRateLimit = 0;
    };

    ServerPieces(http::CurlBackend& http, std::vector<std::string> mirrors,
                 std::shared_ptr<const lt::torrent_info> info, lt::torrent_handle handle,
                 uint32_t seed, ViewFunction readView, LogFunction log);
    ~ServerPieces();
    ServerPieces(const ServerPieces&) = delete;
    ServerPieces& operator=(const ServerPieces&) = delete;

    // Reads libtorrent's view and keeps the server busy accordingly.
    void Refresh();
    // A piece failed its hash check: asked again, but from the server at most
    // twice, so that a server that sends wrong bytes does not loop forever.
    void OnPieceFailed(lt::piece_index_t piece);

    int64_t BytesHandedOver() const { return handedBytes_; }
    std::size_t RequestsInFlight() const { return runs_.size(); }

  private:
    class Run;
    friend class Run;

    // Which pieces a request may ask for.
    enum class Ask {
        NoPeerHas,    // pieces no connected peer has
        NoPeerSends,  // topping up: pieces no peer is sending right now
        Any,          // topping up at the end: pieces slow peers are sending too
    };

    void Update(View view);
    void Refill();
    bool Eligible(int piece, Ask ask) const;
    bool StartRun(Ask ask);
    void OnPiece(int piece, std::vector<char> data);
    void OnRunDone(Run* run, bool ok, const std::string& problem);

    http::CurlBackend& http_;
    const std::vector<std::string> mirrors_;
    const std::shared_ptr<const lt::torrent_info> info_;
    const lt::torrent_handle handle_;
    ViewFunction readView_;
    LogFunction log_;
    const int pieces_;
    View view_;
    std::vector<bool> inFlight_;   // by piece: part of a running request
    std::vector<bool> handed_;     // by piece: given to libtorrent, not yet seen as had
    std::vector<uint8_t> failed_;  // by piece: hash failures of server copies
    int cursor_;
    std::size_t mirror_ = 0;
    int failuresInRow_ = 0;
    std::chrono::steady_clock::time_point pausedUntil_;
    int64_t handedBytes_ = 0;
    std::vector<std::unique_ptr<Run>> runs_;
};

}  // namespace engine::torrent
