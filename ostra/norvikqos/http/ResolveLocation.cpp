#include "ostra/norvikqos/http/ResolveLocation.h"

#include "ostra/norvikqos/http/SplitUrl.h"

namespace {

// The components of a URI reference (RFC 3986 section 3), fragment removed.
struct Reference {
    std::string_view scheme;
    std::string_view authority;
    std::string_view path;
    std::string_view query;
    bool hasScheme = false;
    bool hasAuthority = false;
    bool hasQuery = false;
};

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSchemeChar(char c) {
    return IsAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

Reference Split(std::string_view text) {
    Reference ref;
    text = text.substr(0, text.find('#'));
    // A scheme is letters, digits, "+", "-" and "." up to a ":", which must
    // come before any "/" or "?": "a/b:c" is a path, "g:h" has a scheme.
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos && colon > 0 && IsAlpha(text[0])) {
        bool scheme = true;
        for (size_t i = 1; i < colon && scheme; ++i)
            scheme = IsSchemeChar(text[i]);
        if (scheme) {
            ref.hasScheme = true;
            ref.scheme = text.substr(0, colon);
            text.remove_prefix(colon + 1);
        }
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const size_t end = text.find_first_of("/?");
        ref.hasAuthority = true;
        ref.authority = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    const size_t question = text.find('?');
    ref.path = text.substr(0, question);
    if (question != std::string_view::npos) {
        ref.hasQuery = true;
        ref.query = text.substr(question + 1);
    }
    return ref;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view in) {
    static constexpr std::string_view kSlash = "/";
    std::string out;
    out.reserve(in.size());
    const auto dropLastSegment = [&out] {
        const size_t slash = out.rfind('/');
        out.resize(slash == std::string::npos ? 0 : slash);
    };
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = kSlash;
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            dropLastSegment();
        } else if (in == "/..") {
            in = kSlash;
            dropLastSegment();
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const size_t next = in.find('/', 1);
            const size_t length = next == std::string_view::npos ? in.size() : next;
            out.append(in.substr(0, length));
            in.remove_prefix(length);
        }
    }
    return out;
}

}  // namespace

qvResult ResolveLocation(std::string_view base, std::string_view location, std::string& target) {
    if (location.empty())
        return qv::kLayerFail;
    const Reference b = Split(base);
    if (!b.hasScheme || !b.hasAuthority)
        return qv::kLayerFail;
    const Reference r = Split(location);

    std::string_view scheme = b.scheme;
    std::string_view authority = b.authority;
    std::string path;
    std::string_view query = r.query;
    bool hasQuery = r.hasQuery;
    if (r.hasScheme) {
        scheme = r.scheme;
        if (!r.hasAuthority)
            return qv::kLayerFail;  // "http:g": no host to go to
        authority = r.authority;
        path = RemoveDotSegments(r.path);
    } else if (r.hasAuthority) {
        authority = r.authority;
        path = RemoveDotSegments(r.path);
    } else if (r.path.empty()) {
        path = b.path;
        if (!r.hasQuery) {
            query = b.query;
            hasQuery = b.hasQuery;
        }
    } else if (r.path.front() == '/') {
        path = RemoveDotSegments(r.path);
    } else {
        // Merged with the base's folder (section 5.2.3).
        std::string merged;
        if (b.path.empty()) {
            merged = "/";
        } else {
            const size_t slash = b.path.rfind('/');
            if (slash != std::string_view::npos)
                merged = b.path.substr(0, slash + 1);
        }
        merged.append(r.path);
        path = RemoveDotSegments(merged);
    }

    std::string result;
    result.reserve(scheme.size() + authority.size() + path.size() + query.size() + 5);
    result.append(scheme).append("://").append(authority).append(path);
    if (hasQuery)
        result.append("?").append(query);
    // A NUL would hide the rest of the URL from every C-string reader.
    nwSplitUrlParts parts;
    if (result.find('\0') != std::string::npos || qv::Failed(SplitUrl(result.c_str(), parts)))
        return qv::kLayerFail;
    // What was asked for over TLS is never fetched in the clear: anyone on the
    // path could answer the plain request with bytes of their own.
    nwSplitUrlParts from;
    const std::string baseText(base);
    if (qv::Succeeded(SplitUrl(baseText.c_str(), from)) && from.kind == nwEUrlKind::kSecure &&
        parts.kind != nwEUrlKind::kSecure)
        return qv::kLayerFail;
    target = std::move(result);
    return qv::kLayerOk;
}
