#include "ostra/norvikqos/http/SplitUrl.h"

#include <cstring>
#include <string_view>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// A decimal port from 1 to 65535, digits only.
bool ParsePort(std::string_view digits, uint16_t& port) {
    if (digits.empty() || digits.size() > 5)
        return false;
    uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

qvResult SplitUrl(const char* url, nwSplitUrlParts& parts) {
    if (!url)
        return qv::kLayerFail;
    const std::string_view text(url);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return qv::kLayerFail;
    }

    std::string_view rest;
    uint16_t port = 0;
    nwEUrlKind kind = nwEUrlKind::kPlain;
    if (StartsWithNoCase(text, "http://")) {
        rest = text.substr(7);
        port = 80;
    } else if (StartsWithNoCase(text, "https://")) {
        rest = text.substr(8);
        port = 443;
        kind = nwEUrlKind::kSecure;
    } else {
        return qv::kLayerFail;
    }

    // A query straight after the host ("http://host?a=1") belongs to the path,
    // not to the host name.
    const size_t pathStart = rest.find_first_of("/?");
    std::string_view hostPart = rest.substr(0, pathStart);
    const std::string_view path =
        pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);

    const size_t colon = hostPart.find(':');
    if (colon != std::string_view::npos) {
        if (!ParsePort(hostPart.substr(colon + 1), port))
            return qv::kLayerFail;
        hostPart = hostPart.substr(0, colon);
    }
    if (hostPart.empty())
        return qv::kLayerFail;

    parts.host.Assign(hostPart.data(), hostPart.size());
    parts.path.Assign(path.data(), path.size());
    parts.port = port;
    parts.kind = kind;
    return qv::kLayerOk;
}
