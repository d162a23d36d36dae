#pragma once

// The zip extraction wrapper. A small handle-based reader over
// minizip's unzip interface that unpacks a zip archive held in memory into
// files, with entry records, entry-name cleaning, folder creation along the
// destination and numeric result codes (0 is success; nothing throws).
//
// On Linux one build suffices: destination paths and entry names are UTF-8
// (narrow) text. A "\" in a destination path is taken as "/".

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {
class Directory;
}

using ZipResult = uint32_t;

// Result codes.
constexpr ZipResult kZipOk = 0;             // "Success"
constexpr ZipResult kZipNoFile = 0x200;     // no central directory; a destination cannot be created
constexpr ZipResult kZipWrite = 0x400;      // writing a destination file failed
constexpr ZipResult kZipCorrupt = 0x700;    // local header disagrees with the central directory
constexpr ZipResult kZipRead = 0x800;       // local extra field cannot be read
constexpr ZipResult kZipPassword = 0x1000;  // encrypted entry does not decrypt with the password
constexpr ZipResult kZipArgs = 0x10000;     // null handle, index out of range, missing source
constexpr ZipResult kZipMode = 0x80000;     // the handle is not a reading handle
constexpr ZipResult kZipFlate = 0x5000000;  // decompression failed or ended early

// Windows file attributes kept in the entry record.
constexpr uint32_t kZipAttrReadOnly = 0x01;
constexpr uint32_t kZipAttrHidden = 0x02;
constexpr uint32_t kZipAttrSystem = 0x04;
constexpr uint32_t kZipAttrDirectory = 0x10;
constexpr uint32_t kZipAttrArchive = 0x20;

// Size of the name field, NUL included.
constexpr int kZipMaxName = 260;

struct ZipEntryInfo {
    int32_t index = 0;            // for the query with index -1: the number of entries
    char name[kZipMaxName] = {};  // cleaned entry name, UTF-8, NUL-terminated (cut to 259 bytes)
    uint32_t attributes = 0;      // kZipAttr* bits
    uint64_t lastAccessTime = 0;  // file times: 100 ns steps since 1601-01-01 UTC
    uint64_t creationTime = 0;
    uint64_t lastWriteTime = 0;
    uint32_t compressedSize = 0;  // from the central directory
    uint32_t uncompressedSize = 0;
    // Linux addition: the permission bits (0777) a file extracted from this
    // entry gets before the umask: the stored Unix bits for entries made on
    // Unix (0666 when none are stored), else 0666; without write bits when
    // the entry is read-only.
    uint32_t mode = 0;
};

// The handle: a kind word (1 = reading handle) and the owned reader.
struct ZipHandleData {
    uint32_t kind = 0;
    void* reader = nullptr;
};
using ZipHandle = ZipHandleData*;
constexpr uint32_t kZipReadingHandle = 1;

// Opens the archive bytes (not copied: they must stay valid until ZipClose).
// password: nullptr or "" for none. An encrypted entry is checked against the
// password's encryption header (0x1000 when it does not match) but is never
// decrypted: Debian's minizip has no decryption, so it always gives 0x1000. Null with
// ZipLastResult() 0x200 when the bytes hold no readable zip archive, 0x10000 when data is null.
ZipHandle ZipOpenMemory(const void* data, uint32_t length, const char* password = nullptr);

// The record of entry index; index -1 gives the number of entries in the
// index field and zeros elsewhere.
ZipResult ZipGetEntry(ZipHandle handle, int index, ZipEntryInfo* info);

// Extracts entry index to destination (a relative destination is placed below
// the current folder at open time). Creates the folders along the way; a
// directory entry creates the destination folder. Refused with 0x200 when the
// entry's cleaned name is not safe (ZipIsSafeEntryName) or the destination
// holds a ".." step: a "zip slip" never writes outside the destination.
ZipResult ZipExtractEntry(ZipHandle handle, int index, const char* destination);

// The same, with the destination a relative path below an open folder:
// every folder along it is opened (and made, mode 0700, when missing)
// relative to the one before, and no symbolic link is followed, so that the
// file lands in folder whatever happens to the paths around it.
ZipResult ZipExtractEntryAt(ZipHandle handle, int index, const platform::Directory& folder,
                            const char* relative);

// Caps what every extraction from handle may write together (no cap until
// set). An entry larger than what is left is refused, and an extraction that
// would pass the cap is stopped, with 0x400 ("Error writing to file"). An
// entry that inflates past the uncompressed size it declares is stopped with
// 0x5000000. Either way the file cut short is removed again.
ZipResult ZipSetUnpackLimit(ZipHandle handle, uint64_t bytes);

// Closes the archive and frees the handle.
ZipResult ZipClose(ZipHandle handle);

// The result of the last operation (process-wide).
ZipResult ZipLastResult();
// The message text of a code ("unknown zip result code" for others).
const char* ZipResultText(ZipResult code);

// Name cleaning, applied until no rule matches: a second
// character ":" drops the first two characters; a leading "\" or "/" is
// dropped; else everything up to and including the first "\..\", "\../",
// "/../" or "/..\" (searched in that order) is dropped.
std::string ZipCleanEntryName(std::string_view stored);

// Whether a cleaned name stays below the folder it is extracted into: not
// absolute and without any ".." step (with "\" and "/" both separators).
bool ZipIsSafeEntryName(std::string_view cleaned);
