// Fuzzes the zip entry-name cleaning against a plain reference of
// its rules and checks that a name called safe never leaves its folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/Zip.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// The cleaning rules written out plainly, searched afresh every time.
std::string Reference(std::string name) {
    for (;;) {
        if (name.size() >= 2 && name[1] == ':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && (name[0] == '\\' || name[0] == '/')) {
            name.erase(0, 1);
            continue;
        }
        bool matched = false;
        for (const char* step : {"\\..\\", "\\../", "/../", "/..\\"}) {
            const std::size_t at = name.find(step);
            if (at != std::string::npos) {
                name.erase(0, at + 4);
                matched = true;
                break;
            }
        }
        if (!matched)
            return name;
    }
}

// Lexically resolves name below a folder; false when it climbs above it.
bool StaysInside(std::string_view name) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view segment = name.substr(start, end - start);
        if (segment == "..") {
            if (segments.empty())
                return false;
            segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view stored(reinterpret_cast<const char*>(data), size);
    const std::string cleaned = ZipCleanEntryName(stored);
    const std::size_t nul = stored.find('\0');
    const std::string_view asText = nul == std::string_view::npos ? stored : stored.substr(0, nul);
    Check(cleaned == Reference(std::string(asText)));
    // A suffix of the stored name, cleaned for good.
    Check(cleaned.size() <= asText.size() &&
          asText.substr(asText.size() - cleaned.size()) == cleaned);
    Check(ZipCleanEntryName(cleaned) == cleaned);
    if (ZipIsSafeEntryName(cleaned)) {
        Check(StaysInside(cleaned));
        Check(cleaned.empty() || (cleaned[0] != '/' && cleaned[0] != '\\'));
    }
    return 0;
}
