#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "util/Sha256.h"

enum class FileState : int32_t { Pending = 0, Done = 2 };

// What the publisher's signed metadata says a file must be.
struct FileDigest {
    Sha256Digest sha256{};
    int64_t size = 0;
};

// One file of a job, owned by its job.
struct FileEntry {
    int32_t index = 0;
    std::string url;
    std::string folder;  // normalised: "/" separators, ends in "/"
    std::string name;
    char jobName[40] = {};
    int64_t size = -1;  // -1: unknown
    // Kept by the direct session: bytes of the current attempt and bytes already
    // committed; the bytes present are their sum.
    int64_t receivedBytes = 0;
    int64_t committedBytes = 0;
    int32_t optionA = 0;
    int32_t optionB = 0;
    FileState state = FileState::Pending;
    // Set when the file is signed: it counts as complete only once its bytes
    // match; a file that fails is fetched once more, then the job fails.
    std::optional<FileDigest> expected;
    // Failed checks so far, on whichever path fetched the file.
    int32_t verifyFailures = 0;
    // Checked against expected (on the engine path): a later direct download
    // of the job leaves it alone.
    bool verified = false;

    std::string LocalPath() const { return folder + name; }
    int64_t BytesPresent() const { return receivedBytes + committedBytes; }
};
