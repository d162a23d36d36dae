#include "library/jobs/FileDigestCheck.h"

bool DigestMatches(const FileDigest& expected, CSha256& hash) {
    const bool sizeMatches = hash.Length() == static_cast<uint64_t>(expected.size);
    return hash.Final() == expected.sha256 && sizeMatches;
}

bool FileMatchesDigest(const std::string& path, const FileDigest& expected) {
    const std::optional<FileHash> hash = HashFile(path);
    return hash && hash->size == expected.size && hash->digest == expected.sha256;
}
