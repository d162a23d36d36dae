#include "library/update/VersionOrder.h"

#include <charconv>
#include <cstdint>

namespace {

std::string_view NextPart(std::string_view& text) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    return part;
}

}  // namespace

int CompareVersions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        const std::string_view pa = NextPart(a);
        const std::string_view pb = NextPart(b);
        uint64_t na = 0, nb = 0;
        const bool numA = pa.empty() || std::from_chars(pa.data(), pa.data() + pa.size(), na).ptr ==
                                            pa.data() + pa.size();
        const bool numB = pb.empty() || std::from_chars(pb.data(), pb.data() + pb.size(), nb).ptr ==
                                            pb.data() + pb.size();
        if (numA && numB) {
            if (na != nb)
                return na < nb ? -1 : 1;
        } else if (const int c = pa.compare(pb); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    return 0;
}
