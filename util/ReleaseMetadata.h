#pragma once

// Signed release metadata: what the publisher vouches for about one file list
// or one engine update manifest. A small text, one field a line:
//
//   tvx-release 1
//   kind file-list                      (or: kind engine-update)
//   version 7                           (a release number that only goes up)
//   expires 1767225600                  (Unix time, seconds)
//   subject <sha256 hex> <size>         (the list's or manifest's exact bytes)
//   file <sha256 hex> <size> <name>     (one a file; the name is its URL text)
//   signature ed25519 <128 hex digits>
//
// The signature covers every byte before the "signature" line. Lines end in
// "\n" alone; nothing else is accepted, so that one text has one meaning.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/Sha256.h"

enum class ReleaseKind { kFileList, kEngineUpdate };

enum class ReleaseCheck {
    kAccepted,
    kNoKey,             // no public key to check with
    kMalformed,         // not a metadata text of this format
    kBadSignature,      // not signed by the key
    kWrongKind,         // an update's metadata offered for a list, or the reverse
    kSubjectMismatch,   // signed, but for other bytes
    kExpired,
    kOlderVersion,      // below a version already accepted (checked by the caller)
};
const char* ReleaseCheckText(ReleaseCheck check);

struct ReleaseFile {
    std::string name;
    int64_t size = 0;
    Sha256Digest sha256{};
};

struct ReleaseMetadata {
    static constexpr size_t kMaxText = 16 * 1024 * 1024;

    ReleaseKind kind = ReleaseKind::kFileList;
    uint64_t version = 0;
    int64_t expires = 0;
    Sha256Digest subjectSha256{};
    int64_t subjectSize = 0;
    std::vector<ReleaseFile> files;

    // The entry of a name; nullptr when the metadata does not name it.
    const ReleaseFile* Find(std::string_view name) const;
    // The signed part: every line up to, not including, the signature.
    std::string Body() const;
};

// The body with its signature line appended.
std::string SignedReleaseText(const ReleaseMetadata& metadata, std::string_view privatePem);

// Checks the signature with the public key, then the kind, the subject's bytes
// and the expiry (expired when expires <= now). Fills out only when accepted.
ReleaseCheck VerifyReleaseMetadata(std::string_view text, std::string_view publicPem,
                                   ReleaseKind kind, std::string_view subject, int64_t now,
                                   ReleaseMetadata& out);

// Where the metadata of the document at url lives: the same path with
// ".release" appended (before any query).
inline constexpr char kReleaseMetadataSuffix[] = ".release";
std::string ReleaseMetadataUrl(std::string_view url);
