#pragma once

#include <cstdint>
#include <string>

namespace engine::torrent {

// How the engine takes part in swarms; read from the engine's settings file.
struct PeerSettings {
    // Upload to peers: by default a limit that adapts to the measured uplink
    // (UploadLimit); otherwise uploadLimit bytes per second, 0 for no limit.
    // Peers on the local network are not limited (libtorrent's local peer
    // class).
    bool adaptiveUpload = true;
    uint32_t uploadLimit = 0;
    uint32_t downloadLimit = 0;
    // The BitTorrent listen port; 0 lets the system choose a free one (the
    // tracker and local discovery tell peers which).
    uint16_t listenPort = 0;
    // Where markers of partly peer-written files are kept (ends in "/").
    std::string stateFolder;
};

}  // namespace engine::torrent
