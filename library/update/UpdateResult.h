#pragma once

#include <cstdint>

// What an update record made of one delivered body; the download session
// reports it to the engine updater as the download's result.
enum UpdateResultCode : int32_t {
    kUpdateHandled = 0,
    kUpdateUnknownUrl = 1,     // the URL is none of the record's
    kUpdateNoData = 2,         // missing data, empty body or missing record
    kUpdateBadManifest = 3,    // no version for the engine, or an archive entry without URLs
    kUpdateHashMismatch = 4,   // the archive does not match its hash list, or has none
    kUpdateUnpackFailed = 5,   // the archive could not be unpacked, or its type is unknown
    kUpdateUnpackParam = 6,    // the unpacker's fifth error kind
    kUpdateNoEngineFolder = 7  // the engine folder is missing and could not be created
};

// What the record's last delivered body was.
enum UpdateDataKind : int32_t {
    kKindNone = 0,
    kKindHashFile = 1,
    kKindManifest = 2,
    kKindArchive = 3,
};
