#pragma once

#include <cstdint>

// An IPv4 endpoint, copied as a whole: the address in network byte order exactly
// as it sits in a socket address, the port in host byte order.
struct cpAddress {
    uint32_t ip = 0;
    uint16_t port = 0;
};
