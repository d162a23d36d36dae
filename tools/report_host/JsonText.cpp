#include "JsonText.h"

#include <cstdint>

namespace {

void AppendByteEscape(std::string& out, uint8_t byte) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

bool IsContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence starting at s[i] (2 to 4), or 0.
// Overlong forms, surrogates and code points above U+10FFFF are not well formed.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<uint8_t>(s[i + k]); };
    const uint8_t b = at(0);
    std::size_t n = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0)
            lo = 0xA0;
        else if (b == 0xED)
            hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - i < n || at(1) < lo || at(1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (!IsContinuation(at(k)))
            return 0;
    return n;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes) {
    out += '"';
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        if (b < 0x80) {
            switch (b) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (b < 0x20)
                        AppendByteEscape(out, b);
                    else
                        out += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        const std::size_t n = SequenceLength(bytes, i);
        if (n == 0) {
            AppendByteEscape(out, b);
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    out += '"';
}
