#include "engine/http/ContentRange.h"

#include <strings.h>

#include <cstdlib>
#include <string>

namespace engine::http {

std::optional<ByteRange> ParseContentRangeLine(std::string_view line) {
    constexpr std::string_view kName = "content-range:";
    if (line.size() <= kName.size() || strncasecmp(line.data(), kName.data(), kName.size()) != 0)
        return std::nullopt;
    // A copy: strtoll needs a terminated string, and the line is not one.
    const std::string value(line.substr(kName.size()));
    const size_t bytes = value.find("bytes");
    if (bytes == std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const long long first = std::strtoll(value.c_str() + bytes + 5, &end, 10);
    if (!end || *end != '-')
        return std::nullopt;
    char* after = nullptr;
    const long long last = std::strtoll(end + 1, &after, 10);
    if (after == end + 1 || first < 0 || last < first)
        return std::nullopt;
    return ByteRange{first, last};
}

}  // namespace engine::http
