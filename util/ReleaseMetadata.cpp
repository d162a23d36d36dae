#include "util/ReleaseMetadata.h"

#include <charconv>
#include <optional>
#include <unordered_set>

#include "util/Ed25519.h"
#include "util/HexText.h"

namespace {

constexpr std::string_view kMagic = "tvx-release 1";
constexpr std::string_view kSignaturePrefix = "signature ed25519 ";

std::string_view KindName(ReleaseKind kind) {
    return kind == ReleaseKind::kFileList ? "file-list" : "engine-update";
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty() || text.size() > 20 || text[0] == '+' || text[0] == '-' ||
        (text.size() > 1 && text[0] == '0'))
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// "<hex> <size>" and, when name is given, " <name>" after it.
bool ParseDigestSize(std::string_view text, Sha256Digest& digest, int64_t& size,
                     std::string* name) {
    if (text.size() < 66 || text[64] != ' ')
        return false;
    const std::optional<Sha256Digest> parsed = ParseSha256Hex(text.substr(0, 64));
    if (!parsed)
        return false;
    digest = *parsed;
    std::string_view rest = text.substr(65);
    const size_t space = rest.find(' ');
    if (name) {
        if (space == std::string_view::npos || space + 1 >= rest.size())
            return false;
        *name = std::string(rest.substr(space + 1));
        rest = rest.substr(0, space);
    } else if (space != std::string_view::npos) {
        return false;
    }
    return ParseNumber(rest, size) && size >= 0;
}

bool ParseSignature(std::string_view hex, Ed25519Signature& signature) {
    return ParseHexText(hex, signature);
}

// The body's fields; nullopt for any line out of place.
std::optional<ReleaseMetadata> ParseBody(std::string_view body) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < body.size()) {
        const size_t end = body.find('\n', start);
        if (end == std::string_view::npos)
            return std::nullopt;
        lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() < 5 || lines[0] != kMagic)
        return std::nullopt;
    ReleaseMetadata metadata;
    auto field = [](std::string_view line,
                    std::string_view key) -> std::optional<std::string_view> {
        if (line.size() <= key.size() + 1 || line.substr(0, key.size()) != key ||
            line[key.size()] != ' ')
            return std::nullopt;
        return line.substr(key.size() + 1);
    };
    const auto kind = field(lines[1], "kind");
    if (kind == KindName(ReleaseKind::kFileList))
        metadata.kind = ReleaseKind::kFileList;
    else if (kind == KindName(ReleaseKind::kEngineUpdate))
        metadata.kind = ReleaseKind::kEngineUpdate;
    else
        return std::nullopt;
    const auto version = field(lines[2], "version");
    const auto expires = field(lines[3], "expires");
    const auto subject = field(lines[4], "subject");
    if (!version || !ParseNumber(*version, metadata.version) || !expires ||
        !ParseNumber(*expires, metadata.expires) || !subject ||
        !ParseDigestSize(*subject, metadata.subjectSha256, metadata.subjectSize, nullptr))
        return std::nullopt;
    std::unordered_set<std::string_view> names;
    for (size_t i = 5; i < lines.size(); ++i) {
        const auto file = field(lines[i], "file");
        ReleaseFile entry;
        if (!file || !ParseDigestSize(*file, entry.sha256, entry.size, &entry.name))
            return std::nullopt;
        metadata.files.push_back(std::move(entry));
    }
    for (const ReleaseFile& file : metadata.files) {
        if (!names.insert(file.name).second)
            return std::nullopt;  // one name, one meaning
    }
    return metadata;
}

}  // namespace

const char* ReleaseCheckText(ReleaseCheck check) {
    switch (check) {
        case ReleaseCheck::kAccepted:
            return "accepted";
        case ReleaseCheck::kNoKey:
            return "no publisher key";
        case ReleaseCheck::kMalformed:
            return "malformed release metadata";
        case ReleaseCheck::kBadSignature:
            return "not signed by the publisher's key";
        case ReleaseCheck::kWrongKind:
            return "metadata of another kind of document";
        case ReleaseCheck::kSubjectMismatch:
            return "metadata of other bytes";
        case ReleaseCheck::kExpired:
            return "expired";
        case ReleaseCheck::kOlderVersion:
            return "older than a release already accepted";
    }
    return "unknown";
}

const ReleaseFile* ReleaseMetadata::Find(std::string_view name) const {
    for (const ReleaseFile& file : files) {
        if (file.name == name)
            return &file;
    }
    return nullptr;
}

std::string ReleaseMetadata::Body() const {
    std::string text(kMagic);
    text += "\nkind ";
    text += KindName(kind);
    text += "\nversion " + std::to_string(version);
    text += "\nexpires " + std::to_string(expires);
    text += "\nsubject " + Sha256Hex(subjectSha256) + " " + std::to_string(subjectSize) + "\n";
    for (const ReleaseFile& file : files)
        text += "file " + Sha256Hex(file.sha256) + " " + std::to_string(file.size) + " " +
                file.name + "\n";
    return text;
}

std::string SignedReleaseText(const ReleaseMetadata& metadata, std::string_view privatePem) {
    const std::string body = metadata.Body();
    const std::optional<Ed25519Signature> signature = SignEd25519(privatePem, body);
    if (!signature)
        return {};
    std::string text = body;
    text += kSignaturePrefix;
    text += HexText(*signature);
    text += '\n';
    return text;
}

ReleaseCheck VerifyReleaseMetadata(std::string_view text, std::string_view publicPem,
                                   ReleaseKind kind, std::string_view subject, int64_t now,
                                   ReleaseMetadata& out) {
    if (publicPem.empty())
        return ReleaseCheck::kNoKey;
    if (text.empty() || text.size() > ReleaseMetadata::kMaxText || text.back() != '\n')
        return ReleaseCheck::kMalformed;
    const size_t lastLine = text.rfind('\n', text.size() - 2);
    const size_t signatureStart = lastLine == std::string_view::npos ? 0 : lastLine + 1;
    const std::string_view signatureLine =
        text.substr(signatureStart, text.size() - 1 - signatureStart);
    Ed25519Signature signature{};
    if (signatureLine.substr(0, kSignaturePrefix.size()) != kSignaturePrefix ||
        !ParseSignature(signatureLine.substr(kSignaturePrefix.size()), signature))
        return ReleaseCheck::kMalformed;
    const std::string_view body = text.substr(0, signatureStart);
    // The signature first: nothing of an unsigned text is looked at further.
    if (!VerifyEd25519(publicPem, body, signature))
        return ReleaseCheck::kBadSignature;
    std::optional<ReleaseMetadata> metadata = ParseBody(body);
    if (!metadata)
        return ReleaseCheck::kMalformed;
    if (metadata->kind != kind)
        return ReleaseCheck::kWrongKind;
    if (metadata->subjectSize != static_cast<int64_t>(subject.size()) ||
        metadata->subjectSha256 != CSha256::Of(subject))
        return ReleaseCheck::kSubjectMismatch;
    if (metadata->expires <= now)
        return ReleaseCheck::kExpired;
    out = std::move(*metadata);
    return ReleaseCheck::kAccepted;
}

std::string ReleaseMetadataUrl(std::string_view url) {
    const size_t query = url.find_first_of("?#");
    if (query == std::string_view::npos)
        return std::string(url) + kReleaseMetadataSuffix;
    return std::string(url.substr(0, query)) + kReleaseMetadataSuffix +
           std::string(url.substr(query));
}
