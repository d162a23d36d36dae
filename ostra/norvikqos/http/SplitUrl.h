#pragma once

#include <cstdint>

#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvResult.h"

// How a URL is reached: plain TCP or TLS below the HTTP client layer.
enum class nwEUrlKind : int32_t {
    kPlain = 1,
    kSecure = 3,
};

// The pieces of an "http://" or "https://" URL the HTTP client layer needs.
struct nwSplitUrlParts {
    qvCString host;
    // Everything from the first "/" (or "?") after the host to the end, as
    // given; empty when the URL names only a host.
    qvCString path;
    uint16_t port = 0;
    nwEUrlKind kind = nwEUrlKind::kPlain;
};

// Splits a URL. The scheme is compared without regard to case ("HTTPS://" is
// secure); host and path keep their case. The default port is 80 for http and
// 443 for https; "host:port" overrides it.
//
// qv::kLayerFail, with parts left as they were, for: a null URL, another
// scheme, nothing after the scheme, an empty host, a port that is not a decimal
// number from 1 to 65535, and any control character (below 0x20 or 0x7F) in
// the URL, which could never be sent in a request line.
qvResult SplitUrl(const char* url, nwSplitUrlParts& parts);
