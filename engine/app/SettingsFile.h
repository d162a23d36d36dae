#pragma once

#include <string>
#include <vector>

#include "engine/torrent/PeerSettings.h"

namespace engine::app {

// The engine's settings file, vrDownload.conf in the engine folder: one
// "key = value" a line, "#" starts a comment. Written with its defaults and
// their description when it is missing.
//
//   upload_limit_kib = auto    # adapts to the uplink; or KiB/s sent to peers, 0 for no limit
//   download_limit_kib = 0     # KiB/s taken from peers and web seeds; 0 for no limit
//   peer_port = 0              # BitTorrent listen port; 0: any free port
//
// Peers on the local network are never limited. Lines that cannot be read are
// reported in problems and leave their default.
torrent::PeerSettings LoadPeerSettings(const std::string& folder,
                                       std::vector<std::string>& problems);

}  // namespace engine::app
