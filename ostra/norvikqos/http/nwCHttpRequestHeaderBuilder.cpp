#include "ostra/norvikqos/http/nwCHttpRequestHeaderBuilder.h"

#include <cstring>
#include <string_view>

#include "ostra/norvikqos/http/utCUriCodec.h"

namespace {

bool EqualsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a;
        char y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

// Percent-encodes bytes onto out; nothing for an empty text.
void AppendEncoded(std::string& out, std::string_view bytes) {
    if (bytes.empty())
        return;
    const std::string text(bytes);
    const utCUriCodec codec;
    size_t length = 0;
    if (qv::Failed(codec.Encode(text.c_str(), nullptr, 0, length)))
        return;
    const size_t start = out.size();
    out.resize(start + length + 1);
    size_t written = 0;
    if (qv::Failed(codec.Encode(text.c_str(), out.data() + start, length + 1, written)))
        written = 0;
    out.resize(start + written);
}

bool IsTokenChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

}  // namespace

bool nwCHttpRequestHeaderBuilder::IsValidHeaderName(const char* name) {
    if (!name || !*name)
        return false;
    for (const char* p = name; *p; ++p) {
        if (!IsTokenChar(static_cast<unsigned char>(*p)))
            return false;
    }
    return true;
}

bool nwCHttpRequestHeaderBuilder::IsValidHeaderValue(const char* value) {
    return value && std::strpbrk(value, "\r\n") == nullptr;
}

void nwCHttpRequestHeaderBuilder::WriteHeaderLine(std::string& out, const char* name,
                                                  const char* value) {
    out.append(name);
    out.append(": ");
    out.append(value);
    out.append("\r\n");
}

nwHttpHeaderEntry* nwCHttpRequestHeaderBuilder::FindHeader(const char* name) {
    for (auto& entry : headers_) {
        if (EqualsNoCase(entry.name.CStr(), name))
            return &entry;
    }
    return nullptr;
}

qvResult nwCHttpRequestHeaderBuilder::AddHeader(const char* name, const char* value) {
    if (!IsValidHeaderName(name) || !IsValidHeaderValue(value))
        return qv::kLayerFail;

    std::string_view stored(value);
    if (std::strcmp(name, "GET") == 0 || std::strcmp(name, "POST") == 0) {
        const size_t question = stored.find('?');
        if (question != std::string_view::npos) {
            std::string_view query = stored.substr(question + 1);
            stored = stored.substr(0, question);
            while (!query.empty()) {
                const size_t amp = query.find('&');
                const std::string_view piece = query.substr(0, amp);
                const size_t equals = piece.find('=');
                if (equals != std::string_view::npos) {
                    const std::string pieceName(piece.substr(0, equals));
                    const std::string pieceValue(piece.substr(equals + 1));
                    if (!pieceName.empty())
                        SetQueryParameter(pieceName.c_str(), pieceValue.c_str());
                }
                if (amp == std::string_view::npos)
                    break;
                query = query.substr(amp + 1);
            }
        }
    }

    if (nwHttpHeaderEntry* entry = FindHeader(name)) {
        entry->value.Assign(stored.data(), stored.size());
        return qv::kLayerOk;
    }
    nwHttpHeaderEntry entry;
    entry.name.Assign(name);
    entry.value.Assign(stored.data(), stored.size());
    headers_.push_back(std::move(entry));
    return qv::kLayerOk;
}

qvResult nwCHttpRequestHeaderBuilder::SetQueryParameter(const char* name, const char* value) {
    if (!name || !*name || !value)
        return qv::kLayerFail;
    for (auto& entry : queries_) {
        if (EqualsNoCase(entry.name.CStr(), name)) {
            entry.value.Assign(value);
            return qv::kLayerOk;
        }
    }
    queries_.push_back({qvCString(name), qvCString(value)});
    return qv::kLayerOk;
}

void nwCHttpRequestHeaderBuilder::WriteRequestTarget(std::string& out) {
    nwHttpHeaderEntry* entry = FindHeader("GET");
    if (!entry)
        entry = FindHeader("POST");
    qvCString utf8("/");
    if (entry) {
        entry->used = true;
        utCUriCodec::AnsiToUtf8(entry->value.CStr(), utf8);
    }

    const size_t start = out.size();
    std::string_view path(utf8.CStr(), utf8.Length());
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        if (!segment.empty()) {
            out.push_back('/');
            AppendEncoded(out, segment);
        }
        if (slash == std::string_view::npos)
            break;
        path = path.substr(slash + 1);
    }
    // A path without any segment ("", "/", "//") still needs a valid target.
    if (out.size() == start)
        out.push_back('/');

    for (size_t i = 0; i < queries_.size(); ++i) {
        out.push_back(i == 0 ? '?' : '&');
        AppendEncoded(out, {queries_[i].name.CStr(), queries_[i].name.Length()});
        out.push_back('=');
        AppendEncoded(out, {queries_[i].value.CStr(), queries_[i].value.Length()});
    }
}

void nwCHttpRequestHeaderBuilder::WriteRequestLine(std::string& out, const char* method) {
    out.append(method);
    out.push_back(' ');
    WriteRequestTarget(out);
    out.append(" HTTP/1.1\r\n");
}

void nwCHttpRequestHeaderBuilder::WriteFixedHeader(std::string& out, const char* name,
                                                   const char* defaultValue) {
    if (nwHttpHeaderEntry* entry = FindHeader(name)) {
        entry->used = true;
        WriteHeaderLine(out, name, entry->value.CStr());
        return;
    }
    if (defaultValue && *defaultValue)
        WriteHeaderLine(out, name, defaultValue);
}

void nwCHttpRequestHeaderBuilder::WriteRemainingHeaders(std::string& out) {
    for (auto& entry : headers_) {
        // A second pseudo-header ("POST" in a GET) is no header line either.
        if (entry.used || std::strcmp(entry.name.CStr(), "GET") == 0 ||
            std::strcmp(entry.name.CStr(), "POST") == 0)
            continue;
        entry.used = true;
        out.append(entry.name.CStr());
        out.append(": ");
        if (std::strcmp(entry.name.CStr(), "Cookie") == 0)
            out.append(entry.value.CStr());
        else
            AppendEncoded(out, {entry.value.CStr(), entry.value.Length()});
        out.append("\r\n");
    }
}
