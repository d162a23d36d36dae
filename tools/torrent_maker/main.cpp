// tvx-make-torrents: writes, next to each game file of a content server, the
// BitTorrent metadata <file>.torrent that the engine looks for: the file's
// pieces, the file's own URL as web seed (BEP 19) and the tracker to announce to.
//
//   tvx-make-torrents --root DIR --announce URL [--piece-kib N] [--info-hashes FILE]
//                     (--list FILE | URL...)
//
// Every URL names one file: its path below the server's document root DIR
// (percent-decoded) is the file that is hashed. --list reads the URLs one a
// line (e.g. the game's filelist.txt). --info-hashes appends each torrent's
// info hash (40 hex digits a line) to FILE: the whitelist of a tracker that
// serves only known torrents, as Debian's opentracker does. Exit status 0 when
// every torrent was written.
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/hex.hpp>
#include <libtorrent/torrent_info.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "util/HexText.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: tvx-make-torrents --root DIR --announce URL [--piece-kib N] "
                 "[--info-hashes FILE] (--list FILE | URL...)\n");
}

// The local path of a URL's file below root; empty when the URL has no usable
// path (no scheme, no path, or a step that leaves the root).
std::string LocalPath(const std::string& root, const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return {};
    const std::size_t slash = url.find('/', scheme + 3);
    if (slash == std::string::npos)
        return {};
    std::string path = url.substr(slash, url.find_first_of("?#", slash) - slash);
    std::string decoded;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && HexDigitValue(path[i + 1]) >= 0 &&
            HexDigitValue(path[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(HexDigitValue(path[i + 1]) * 16 + HexDigitValue(path[i + 2])));
            i += 2;
        } else {
            decoded.push_back(path[i]);
        }
    }
    if (decoded.back() == '/' || decoded.find('\0') != std::string::npos)
        return {};
    for (std::size_t start = 1; start <= decoded.size();) {
        const std::size_t end = decoded.find('/', start);
        const std::string step = decoded.substr(start, end - start);
        if (step == "." || step == ".." || step.empty())
            return {};
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return (root.empty() || root.back() != '/' ? root : root.substr(0, root.size() - 1)) + decoded;
}

bool MakeTorrent(const std::string& path, const std::string& url, const std::string& announce,
                 int pieceBytes, std::ofstream* infoHashes) {
    lt::file_storage files;
    lt::error_code ec;
    lt::add_files(files, path, lt::create_flags_t{});
    if (files.num_files() != 1 || files.total_size() <= 0) {
        std::fprintf(stderr, "tvx-make-torrents: %s: not a non-empty file\n", path.c_str());
        return false;
    }
    // v1 only: the engine's libtorrent and every client in the swarm read it.
    lt::create_torrent torrent(files, pieceBytes, lt::create_torrent::v1_only);
    torrent.add_tracker(announce);
    torrent.add_url_seed(url);
    torrent.set_creator("tvx-make-torrents");
    const std::size_t cut = path.rfind('/');
    lt::set_piece_hashes(torrent, cut == std::string::npos ? "." : path.substr(0, cut), ec);
    if (ec) {
        std::fprintf(stderr, "tvx-make-torrents: %s: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    std::vector<char> bytes;
    lt::bencode(std::back_inserter(bytes), torrent.generate());
    if (infoHashes) {
        lt::error_code parseError;
        const lt::torrent_info info(lt::span<char const>(bytes.data(), bytes.size()), parseError,
                                    lt::from_span);
        if (parseError || !(*infoHashes << lt::aux::to_hex(info.info_hashes().v1) << '\n')) {
            std::fprintf(stderr, "tvx-make-torrents: %s: cannot record its info hash\n",
                         path.c_str());
            return false;
        }
    }
    const std::string target = path + ".torrent";
    const std::string part = target + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "tvx-make-torrents: cannot write %s\n", part.c_str());
            std::remove(part.c_str());
            return false;
        }
    }
    // Renamed into place so that a server never hands out half a torrent.
    if (std::rename(part.c_str(), target.c_str()) != 0) {
        std::fprintf(stderr, "tvx-make-torrents: cannot write %s\n", target.c_str());
        std::remove(part.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string root, announce, list, infoHashPath;
    int pieceKib = 0;  // 0: libtorrent's choice for the file's size
    std::vector<std::string> urls;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((arg == "--root" || arg == "--announce" || arg == "--list" || arg == "--piece-kib" ||
             arg == "--info-hashes") &&
            !hasValue) {
            std::fprintf(stderr, "tvx-make-torrents: %s needs a value\n", arg.c_str());
            return 2;
        }
        if (arg == "--root")
            root = argv[++i];
        else if (arg == "--announce")
            announce = argv[++i];
        else if (arg == "--list")
            list = argv[++i];
        else if (arg == "--info-hashes")
            infoHashPath = argv[++i];
        else if (arg == "--piece-kib") {
            char* end = nullptr;
            const long kib = std::strtol(argv[++i], &end, 10);
            // A power of two of at least 16 KiB, as BitTorrent wants.
            if (*end != '\0' || kib < 16 || kib > 65536 || (kib & (kib - 1)) != 0) {
                std::fprintf(stderr, "tvx-make-torrents: bad piece size %s KiB\n", argv[i]);
                return 2;
            }
            pieceKib = static_cast<int>(kib);
        } else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "tvx-make-torrents: unknown option %s\n", arg.c_str());
            Usage();
            return 2;
        } else {
            urls.push_back(arg);
        }
    }
    if (!list.empty()) {
        std::ifstream in(list);
        if (!in) {
            std::fprintf(stderr, "tvx-make-torrents: cannot read %s\n", list.c_str());
            return 1;
        }
        for (std::string line; std::getline(in, line);) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (!line.empty())
                urls.push_back(line);
        }
    }
    if (root.empty() || announce.empty() || urls.empty()) {
        Usage();
        return 2;
    }
    std::ofstream infoHashes;
    if (!infoHashPath.empty()) {
        infoHashes.open(infoHashPath, std::ios::app);
        if (!infoHashes) {
            std::fprintf(stderr, "tvx-make-torrents: cannot write %s\n", infoHashPath.c_str());
            return 1;
        }
    }
    int failed = 0;
    for (const std::string& url : urls) {
        const std::string path = LocalPath(root, url);
        if (path.empty()) {
            std::fprintf(stderr, "tvx-make-torrents: %s: no file path in the URL\n", url.c_str());
            ++failed;
            continue;
        }
        failed += !MakeTorrent(path, url, announce, pieceKib * 1024,
                               infoHashPath.empty() ? nullptr : &infoHashes);
    }
    if (failed)
        std::fprintf(stderr, "tvx-make-torrents: %d of %zu torrents not written\n", failed,
                     urls.size());
    return failed ? 1 : 0;
}
