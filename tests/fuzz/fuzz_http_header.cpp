// Fuzzes the HTTP response-header parser on arbitrary server bytes: the
// search for the end of the block, also as the client layer runs it over a
// buffer that grows piece by piece, and the parse of the block, whose outcome
// is checked against what the parser promises its callers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ostra/norvikqos/http/nwCHttpHeaderParser.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// The first CR LF CR LF, searched plainly.
size_t ReferenceEnd(std::string_view text) {
    const size_t at = text.find("\r\n\r\n");
    return at == std::string_view::npos ? 0 : at + 4;
}

bool IsFieldText(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
            return false;
    }
    return true;
}

// Offers the bytes the way the client layer sees them: a buffer that grows by
// steps, scanned again from three bytes before the last size each time.
void CheckGrowingSearch(std::string_view text, size_t whole, uint32_t seed) {
    size_t scanned = 0;
    size_t size = 0;
    while (size < text.size()) {
        seed = seed * 1103515245u + 12345u;
        size = std::min(text.size(), size + 1 + (seed >> 16) % 97);
        const size_t end = nwCHttpHeaderParser::FindHeaderEnd(text.data(), size, scanned);
        Check(end == (whole != 0 && whole <= size ? whole : 0));
        if (end != 0)
            return;
        scanned = size > 3 ? size - 3 : 0;
    }
}

// The checks that hold for every outcome of one parse.
void CheckParse(nwCHttpHeaderParser& parser, std::string_view text, size_t end) {
    const qvResult result = parser.Parse(text.data(), text.size());
    const qvCString& raw = parser.GetRawHeader();
    Check(raw.Length() <= nwCHttpHeaderParser::kMaxHeaderBytes);
    qvCString value;
    if (end == 0 || end > nwCHttpHeaderParser::kMaxHeaderBytes) {
        const bool tooLarge = (end == 0 ? text.size() : end) > nwCHttpHeaderParser::kMaxHeaderBytes;
        Check(result == (tooLarge ? nwCHttpHeaderParser::kHeaderTooLarge
                                  : nwCHttpHeaderParser::kIncompleteHeader));
    } else {
        Check(std::string_view(raw.CStr(), raw.Length()) == text.substr(0, end));
    }
    if (qv::Failed(result)) {
        // A failed block leaves nothing a caller could mistake for a response.
        Check(parser.GetStatusCode() == 0 && parser.GetContentLength() == 0 &&
              !parser.HasContentLength() && !parser.IsParsed());
        Check(qv::Failed(parser.GetHeader("HTTP/", value)));
        Check(qv::Failed(parser.GetHeader("Content-Length", value)));
        return;
    }
    Check(result == qv::kLayerOk);
    Check(parser.GetStatusCode() >= 100 && parser.GetStatusCode() <= 599);
    Check(parser.GetContentLength() >= 0);
    Check(parser.HasContentLength() || parser.GetContentLength() == 0);
    if (parser.HasContentLength()) {
        Check(qv::Succeeded(parser.GetHeader("content-length:", value)));
        // Digits only (leading zeros allowed), worth the length given.
        int64_t digits = 0;
        for (const char c : std::string_view(value.CStr(), value.Length())) {
            Check(c >= '0' && c <= '9');
            digits = digits * 10 + (c - '0');
        }
        Check(value.Length() > 0 && digits == parser.GetContentLength());
    }
    // Every header line is found again by its name, and every stored value is
    // text a caller can pass on (no CR, LF or NUL smuggled in by decoding).
    std::string_view rest = text.substr(0, end - 2);
    rest.remove_prefix(rest.find("\r\n") + 2);
    while (!rest.empty()) {
        const size_t lineEnd = rest.find("\r\n");
        Check(lineEnd != std::string_view::npos);
        const std::string_view line = rest.substr(0, lineEnd);
        rest.remove_prefix(lineEnd + 2);
        const size_t colon = line.find(':');
        Check(colon != std::string_view::npos && colon > 0);
        const std::string key(line.substr(0, colon + 1));
        Check(qv::Succeeded(parser.GetHeader(key.c_str(), value)));
        Check(IsFieldText(std::string_view(value.CStr(), value.Length())));
        Check(value.Length() == std::string_view(value.CStr()).size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t whole = ReferenceEnd(text);
    Check(nwCHttpHeaderParser::FindHeaderEnd(text.data(), text.size()) == whole);
    uint32_t seed = 0;
    for (size_t i = 0; i < size && i < 8; ++i)
        seed = seed * 31 + data[i];
    CheckGrowingSearch(text, whole, seed);
    if (size <= 512) {
        // One byte at a time, as a slow server sends it.
        size_t scanned = 0;
        for (size_t n = 1; n <= size; ++n) {
            const size_t end = nwCHttpHeaderParser::FindHeaderEnd(text.data(), n, scanned);
            Check(end == (whole != 0 && whole <= n ? whole : 0));
            if (end != 0)
                break;
            scanned = n > 3 ? n - 3 : 0;
        }
    }

    nwCHttpHeaderParser parser;
    CheckParse(parser, text, whole);
    // The bytes after the blank line are the body's and change nothing.
    if (whole != 0) {
        nwCHttpHeaderParser alone;
        Check(alone.Parse(text.data(), whole) == parser.Parse(text.data(), text.size()));
        Check(alone.GetStatusCode() == parser.GetStatusCode() &&
              alone.GetContentLength() == parser.GetContentLength());
    }
    // The same parser again, over a shorter block: nothing of the last parse stays.
    const std::string_view half = text.substr(0, size / 2);
    CheckParse(parser, half, ReferenceEnd(half));
    return 0;
}
