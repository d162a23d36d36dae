#include "engine/torrent/ServerPieces.h"

#include <libtorrent/torrent_info.hpp>

#include <algorithm>

namespace engine::torrent {
namespace {

// The longest run of pieces one request asks for: long enough that a request's
// round trip is small beside it, short enough that a request rarely fetches
// what a peer meanwhile sent.
constexpr int64_t kRunBytes = 2 << 20;
// Server copies of a piece that may fail their check before only peers are
// asked for it.
constexpr uint8_t kServerAttempts = 2;
// After a request failed on every mirror in a row, the server rests this long.
constexpr auto kRest = std::chrono::seconds(3);

}  // namespace

// One request: a range of whole pieces, each handed over as it completes.
class ServerPieces::Run final : private http::IRangeListener {
  public:
    Run(ServerPieces& owner, int first, int last, bool serverOnly)
        : owner_(owner), first_(first), last_(last), next_(first), serverOnly_(serverOnly) {}

    bool Start(const std::string& url) {
        const lt::file_storage& files = owner_.info_->files();
        const int64_t begin = static_cast<int64_t>(first_) * files.piece_length();
        const int64_t end = static_cast<int64_t>(last_) * files.piece_length() +
                            files.piece_size(lt::piece_index_t{last_}) - 1;
        buffer_.reserve(static_cast<std::size_t>(files.piece_size(lt::piece_index_t{first_})));
        fetch_ = std::make_unique<http::CurlRangeFetch>(owner_.http_, url, begin, end,
                                                        owner_.view_.requestRateLimit,
                                                        static_cast<http::IRangeListener&>(*this));
        return fetch_->Start();
    }

    int First() const { return first_; }
    int Last() const { return last_; }
    int Next() const { return next_; }
    // Asked for pieces that no connected peer had.
    bool ServerOnly() const { return serverOnly_; }

  private:
    bool OnRangeData(const char* data, std::size_t length) override {
        const lt::file_storage& files = owner_.info_->files();
        while (length > 0) {
            const auto pieceSize =
                static_cast<std::size_t>(files.piece_size(lt::piece_index_t{next_}));
            const std::size_t take = std::min(length, pieceSize - buffer_.size());
            buffer_.insert(buffer_.end(), data, data + take);
            data += take;
            length -= take;
            if (buffer_.size() == pieceSize) {
                owner_.OnPiece(next_++, std::move(buffer_));
                buffer_ = {};
                if (next_ <= last_)
                    buffer_.reserve(
                        static_cast<std::size_t>(files.piece_size(lt::piece_index_t{next_})));
            }
        }
        return true;
    }

    void OnRangeDone(bool ok, const std::string& problem) override {
        owner_.OnRunDone(this, ok, problem);  // destroys this run
    }

    ServerPieces& owner_;
    const int first_;
    const int last_;
    int next_;
    const bool serverOnly_;
    std::vector<char> buffer_;
    std::unique_ptr<http::CurlRangeFetch> fetch_;
};

ServerPieces::ServerPieces(http::CurlBackend& http, std::vector<std::string> mirrors,
                           std::shared_ptr<const lt::torrent_info> info, lt::torrent_handle handle,
                           uint32_t seed, ViewFunction readView, LogFunction log)
    : http_(http),
      mirrors_(std::move(mirrors)),
      info_(std::move(info)),
      handle_(std::move(handle)),
      readView_(std::move(readView)),
      log_(std::move(log)),
      pieces_(info_->num_pieces()),
      inFlight_(static_cast<std::size_t>(pieces_)),
      handed_(static_cast<std::size_t>(pieces_)),
      failed_(static_cast<std::size_t>(pieces_)),
      cursor_(static_cast<int>(seed % static_cast<uint32_t>(pieces_))) {}

ServerPieces::~ServerPieces() = default;

void ServerPieces::Refresh() {
    View view;
    if (readView_(view))
        Update(std::move(view));
}

void ServerPieces::Update(View view) {
    view_ = std::move(view);
    for (int i = 0; i < pieces_; ++i)
        if (handed_[i] && view_.have.size() > i && view_.have[lt::piece_index_t{i}])
            handed_[i] = false;
    // A request ends early when peers have meanwhile delivered its pieces, or
    // when it asked for pieces no peer had and peers that have them turned
    // up (unless peers are too slow): the server's bytes are the scarce ones.
    std::erase_if(runs_, [this](const std::unique_ptr<Run>& run) {
        const bool peersWillDo = run->ServerOnly() && view_.topUpRequests == 0;
        for (int i = run->Next(); i <= run->Last(); ++i) {
            const bool had = view_.have.size() > i && view_.have[lt::piece_index_t{i}];
            const bool peersHave = i < static_cast<int>(view_.availability.size()) &&
                                   view_.availability[static_cast<std::size_t>(i)] > 0;
            if (!had && !(peersWillDo && peersHave))
                return false;
        }
        for (int i = run->Next(); i <= run->Last(); ++i)
            inFlight_[i] = false;
        return true;
    });
    Refill();
}

void ServerPieces::OnPieceFailed(lt::piece_index_t piece) {
    const int i = static_cast<int>(piece);
    if (i < 0 || i >= pieces_ || !handed_[i])
        return;  // a peer's copy: libtorrent deals with the peer
    handed_[i] = false;
    if (failed_[i] < 255)
        ++failed_[i];
}

bool ServerPieces::Eligible(int piece, Ask ask) const {
    if (inFlight_[piece] || handed_[piece] || failed_[piece] >= kServerAttempts)
        return false;
    if (view_.have.size() > piece && view_.have[lt::piece_index_t{piece}])
        return false;
    const int available =
        piece < static_cast<int>(view_.availability.size()) ? view_.availability[piece] : 0;
    if (ask == Ask::NoPeerHas)
        return available == 0;
    const bool sending =
        piece < static_cast<int>(view_.peersSending.size()) && view_.peersSending[piece];
    return ask == Ask::Any || !sending;
}

void ServerPieces::Refill() {
    if (std::chrono::steady_clock::now() < pausedUntil_ || mirrors_.empty())
        return;
    while (runs_.size() < kRequests) {
        if (StartRun(Ask::NoPeerHas))
            continue;
        const auto toppingUp = std::count_if(runs_.begin(), runs_.end(),
                                             [](const auto& run) { return !run->ServerOnly(); });
        // Pieces peers are sending are asked for only when all requests may
        // top up (peers give less than a third of the engine's share): at the
        // end of a file such peers would otherwise hold it back.
        const bool peersGiveNothing = view_.topUpRequests >= kRequests;
        if (static_cast<std::size_t>(toppingUp) >= view_.topUpRequests ||
            !(StartRun(Ask::NoPeerSends) || (peersGiveNothing && StartRun(Ask::Any))))
            return;
    }
}

bool ServerPieces::StartRun(Ask ask) {
    int first = -1;
    if (ask == Ask::NoPeerHas) {
        // Every piece no peer has is as rare as can be: the sweep goes on from
        // where this engine's last request ended.
        for (int step = 0; step < pieces_ && first < 0; ++step) {
            const int piece = (cursor_ + step) % pieces_;
            if (Eligible(piece, Ask::NoPeerHas))
                first = piece;
        }
    } else {
        int best = -1;
        for (int step = 0; step < pieces_; ++step) {
            const int piece = (cursor_ + step) % pieces_;
            if (!Eligible(piece, ask))
                continue;
            const int available =
                piece < static_cast<int>(view_.availability.size()) ? view_.availability[piece] : 0;
            if (first < 0 || available < best) {
                first = piece;
                best = available;
            }
        }
    }
    if (first < 0)
        return false;
    const int64_t pieceLength = info_->piece_length();
    int last = first;
    while (last + 1 < pieces_ && (last + 2 - first) * pieceLength <= kRunBytes &&
           Eligible(last + 1, ask))
        ++last;
    for (int i = first; i <= last; ++i)
        inFlight_[i] = true;
    cursor_ = (last + 1) % pieces_;
    auto run = std::make_unique<Run>(*this, first, last, ask == Ask::NoPeerHas);
    Run* started = run.get();
    runs_.push_back(std::move(run));
    if (!started->Start(mirrors_[mirror_ % mirrors_.size()])) {
        OnRunDone(started, false, "the request could not be made");
        return false;
    }
    return true;
}

void ServerPieces::OnPiece(int piece, std::vector<char> data) {
    inFlight_[piece] = false;
    handed_[piece] = true;
    handedBytes_ += static_cast<int64_t>(data.size());
    handle_.add_piece(lt::piece_index_t{piece}, std::move(data));
}

void ServerPieces::OnRunDone(Run* run, bool ok, const std::string& problem) {
    for (int i = run->Next(); i <= run->Last(); ++i)
        inFlight_[i] = false;
    if (ok) {
        failuresInRow_ = 0;
    } else {
        log_("server request for pieces " + std::to_string(run->First()) + "-" +
             std::to_string(run->Last()) + " failed (" + problem + ")");
        ++mirror_;
        if (++failuresInRow_ >= static_cast<int>(mirrors_.size())) {
            failuresInRow_ = 0;
            pausedUntil_ = std::chrono::steady_clock::now() + kRest;
        }
    }
    // Destroying the run ends its fetch, which is finished and expects it.
    std::erase_if(runs_, [run](const std::unique_ptr<Run>& r) { return r.get() == run; });
    Refresh();
}

}  // namespace engine::torrent
