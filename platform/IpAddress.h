#pragma once

namespace platform {

// Whether text is an IPv4 or IPv6 address literal ("127.0.0.1", "::1")
// rather than a host name.
bool IsIpAddressLiteral(const char* text);

}  // namespace platform
