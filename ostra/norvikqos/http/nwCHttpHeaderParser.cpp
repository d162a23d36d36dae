#include "ostra/norvikqos/http/nwCHttpHeaderParser.h"

#include <cstring>
#include <string>
#include <string_view>

#include "ostra/norvikqos/http/utCUriCodec.h"

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsTokenChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Visible characters, space, tab and bytes above 127 (text in other encodings).
bool IsFieldText(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// "HTTP/d.d SP ddd [SP reason]", the status from 100 to 599.
int32_t ParseStatusLine(std::string_view line) {
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || !IsDigit(line[5]) || line[6] != '.' ||
        !IsDigit(line[7]) || line[8] != ' ')
        return 0;
    const std::string_view code = line.substr(9, 3);
    if (!IsDigit(code[0]) || !IsDigit(code[1]) || !IsDigit(code[2]))
        return 0;
    if (line.size() > 12 && line[12] != ' ')
        return 0;
    if (!IsFieldText(line.substr(12)))
        return 0;
    const int32_t status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    return status >= 100 && status <= 599 ? status : 0;
}

// Digits only, at most what a signed 64-bit number holds.
bool ParseLength(std::string_view text, int64_t& length) {
    if (text.empty())
        return false;
    int64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c))
            return false;
        const int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    length = value;
    return true;
}

// The percent-decoded value, or the value as sent when decoding would yield a
// control character (a Location that decodes to CR LF must not become a
// different URL further on).
void StoreValue(std::string_view value, qvCString& out) {
    out.Assign(value.data(), value.size());
    if (value.find('%') == std::string_view::npos)
        return;
    const std::string text(value);
    const utCUriCodec codec;
    size_t length = 0;
    if (qv::Failed(codec.Decode(text.c_str(), nullptr, 0, length)))
        return;
    std::string decoded(length + 1, '\0');
    if (qv::Failed(codec.Decode(text.c_str(), decoded.data(), decoded.size(), length)))
        return;
    decoded.resize(length);
    if (IsFieldText(decoded))
        out.Assign(decoded.data(), decoded.size());
}

}  // namespace

size_t nwCHttpHeaderParser::FindHeaderEnd(const char* data, size_t size, size_t from) {
    if (!data || size < 4)
        return 0;
    for (size_t i = from; i + 4 <= size; ++i) {
        const void* found = std::memchr(data + i, '\r', size - 3 - i);
        if (!found)
            return 0;
        i = static_cast<size_t>(static_cast<const char*>(found) - data);
        if (data[i + 1] == '\n' && data[i + 2] == '\r' && data[i + 3] == '\n')
            return i + 4;
    }
    return 0;
}

void nwCHttpHeaderParser::Clear() {
    raw_.Clear();
    entries_.clear();
    statusCode_ = 0;
    contentLength_ = 0;
    hasContentLength_ = false;
}

qvResult nwCHttpHeaderParser::Parse(const char* block, size_t length) {
    Clear();
    if (!block)
        length = 0;
    // Only the block through its blank line counts; a missing blank line is
    // noticed below.
    const size_t end = FindHeaderEnd(block, length);
    const size_t used = end ? end : length;
    raw_.Assign(block, used > kMaxHeaderBytes ? kMaxHeaderBytes : used);
    if (used > kMaxHeaderBytes)
        return kHeaderTooLarge;
    if (end == 0)
        return kIncompleteHeader;
    const qvResult result = ParseLines(block, end);
    if (qv::Failed(result)) {
        entries_.clear();
        statusCode_ = 0;
        contentLength_ = 0;
        hasContentLength_ = false;
    }
    return result;
}

qvResult nwCHttpHeaderParser::ParseLines(const char* block, size_t length) {
    // The block ends in CR LF CR LF; every line ends in CR LF, and a CR
    // anywhere else is a control character in the line.
    std::string_view rest(block, length - 2);
    bool first = true;
    bool hasTransferCoding = false;
    while (!rest.empty()) {
        const size_t lf = rest.find('\n');
        if (lf == std::string_view::npos || lf == 0 || rest[lf - 1] != '\r')
            return first ? kBadStatusLine : kBadHeaderLine;
        const std::string_view line = rest.substr(0, lf - 1);
        rest.remove_prefix(lf + 1);

        if (first) {
            first = false;
            statusCode_ = ParseStatusLine(line);
            if (statusCode_ == 0)
                return kBadStatusLine;
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return kBadHeaderLine;
        const std::string_view name = line.substr(0, colon);
        for (const char c : name) {
            if (!IsTokenChar(static_cast<unsigned char>(c)))
                return kBadHeaderLine;
        }
        const std::string_view value = Trim(line.substr(colon + 1));
        if (!IsFieldText(value))
            return kBadHeaderLine;

        if (EqualsNoCase(name, "Content-Length")) {
            int64_t parsed = 0;
            if (!ParseLength(value, parsed) || (hasContentLength_ && parsed != contentLength_))
                return kBadContentLength;
            contentLength_ = parsed;
            hasContentLength_ = true;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            if (!EqualsNoCase(value, "identity"))
                hasTransferCoding = true;
        }

        Entry entry;
        entry.name.Assign(line.data(), colon + 1);
        StoreValue(value, entry.value);
        entries_.push_back(std::move(entry));
    }
    if (first)
        return kBadStatusLine;
    if (hasTransferCoding)
        return kUnsupportedTransferCoding;
    return qv::kLayerOk;
}

qvResult nwCHttpHeaderParser::GetHeader(const char* key, qvCString& value) const {
    if (!key || !*key)
        return qv::kLayerFail;
    const std::string_view wanted(key);
    for (const auto& entry : entries_) {
        const std::string_view name(entry.name.CStr(), entry.name.Length());
        if (name.size() >= wanted.size() && EqualsNoCase(name.substr(0, wanted.size()), wanted)) {
            value = entry.value;
            return qv::kLayerOk;
        }
    }
    return qv::kLayerFail;
}
