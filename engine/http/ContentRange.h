#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace engine::http {

// The byte range a "Content-Range: bytes FIRST-LAST/..." header line names.
struct ByteRange {
    int64_t first = 0;
    int64_t last = 0;
};

// The range of one header line as libcurl hands it over (name, value and line
// end); nothing when the line is another header or its range is malformed.
std::optional<ByteRange> ParseContentRangeLine(std::string_view line);

}  // namespace engine::http
