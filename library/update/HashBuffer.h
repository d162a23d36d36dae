#pragma once

#include <cstdint>
#include <vector>

// The hash file of one archive, once it has arrived.
struct HashBuffer {
    std::vector<uint8_t> bytes;
    bool stored = false;  // false until the hash file was delivered
};
