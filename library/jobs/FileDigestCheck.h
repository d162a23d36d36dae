#pragma once

// The check of a downloaded file against what the publisher's signed metadata
// says it must be, shared by the direct path (hashing as it writes) and the
// engine path (hashing each file the engine reports complete).

#include <string>

#include "library/jobs/FileEntry.h"
#include "util/Sha256.h"

// The bytes fed to hash since its last reset are the expected file; the hash
// starts over either way.
bool DigestMatches(const FileDigest& expected, CSha256& hash);

// Reads the file once and compares; false when it cannot be read.
bool FileMatchesDigest(const std::string& path, const FileDigest& expected);
