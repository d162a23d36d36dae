#include "engine/app/SettingsFile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>

namespace engine::app {
namespace {

constexpr char kFileName[] = "vrDownload.conf";

constexpr char kDefaultText[] =
    "# Settings of the local download engine (vrDownload.exe), read at its start.\n"
    "# One \"key = value\" a line; \"#\" starts a comment.\n"
    "\n"
    "# Upload to peers: \"auto\" keeps uploads to about 80 % of the uplink the\n"
    "# engine measures, so that downloads and other traffic still get through;\n"
    "# or KiB per second, 0 for no limit. The engine shares only while one of\n"
    "# its own downloads runs, and never limits peers on the local network.\n"
    "upload_limit_kib = auto\n"
    "\n"
    "# Download from peers and web seeds, in KiB per second; 0 for no limit.\n"
    "download_limit_kib = 0\n"
    "\n"
    "# The port that peers connect to; 0 lets the system choose a free one.\n"
    "peer_port = 0\n";

std::string Trim(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool ReadNumber(const std::string& text, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0 && value <= max;
}

}  // namespace

torrent::PeerSettings LoadPeerSettings(const std::string& folder,
                                       std::vector<std::string>& problems) {
    torrent::PeerSettings settings;
    settings.stateFolder = folder;
    const std::string path = folder + kFileName;
    std::ifstream in(path);
    if (!in) {
        std::ofstream(path) << kDefaultText;
        return settings;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const std::size_t equals = line.find('=');
        const std::string key = Trim(line.substr(0, equals));
        const std::string text = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        unsigned long long value = 0;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        // Limits in KiB/s that still fit libtorrent's byte rates.
        constexpr unsigned long long kMaxKib = std::numeric_limits<int>::max() / 1024;
        if (key == "upload_limit_kib" && text == "auto") {
            settings.adaptiveUpload = true;
        } else if (key == "upload_limit_kib" && ReadNumber(text, kMaxKib, value)) {
            settings.adaptiveUpload = false;
            settings.uploadLimit = static_cast<uint32_t>(value * 1024);
        } else if (key == "download_limit_kib" && ReadNumber(text, kMaxKib, value)) {
            settings.downloadLimit = static_cast<uint32_t>(value * 1024);
        } else if (key == "peer_port" && ReadNumber(text, 65535, value)) {
            settings.listenPort = static_cast<uint16_t>(value);
        } else if (key == "upload_limit_kib" || key == "download_limit_kib" || key == "peer_port") {
            problems.push_back(where + "bad value \"" + text + "\" for " + key);
        } else {
            problems.push_back(where + "unknown setting \"" + key + "\"");
        }
    }
    return settings;
}

}  // namespace engine::app
