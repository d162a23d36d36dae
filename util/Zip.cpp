#include "util/Zip.h"

#include <zlib.h>

#include <minizip/unzip.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/Directory.h"
#include "platform/FileHandle.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t kWriteBufferSize = 0x4000;

std::atomic<ZipResult> g_lastResult{kZipOk};

ZipResult Done(ZipResult code) {
    g_lastResult.store(code);
    return code;
}

// ---- the archive bytes as a read-only minizip stream ----

struct MemoryStream {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t pos = 0;
};

voidpf ZCALLBACK MemOpen(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK MemRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* s = static_cast<MemoryStream*>(stream);
    const uint64_t left = s->pos < s->size ? s->size - s->pos : 0;
    const uint64_t n = size < left ? size : left;
    if (n > 0)
        std::memcpy(buf, s->data + s->pos, static_cast<std::size_t>(n));
    s->pos += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK MemWrite(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK MemTell(voidpf, voidpf stream) {
    return static_cast<MemoryStream*>(stream)->pos;
}

long ZCALLBACK MemSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<MemoryStream*>(stream);
    uint64_t target;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            target = offset;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            target = s->pos + offset;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            target = s->size + offset;
            break;
        default:
            return -1;
    }
    // Like a file, the stream may be positioned beyond its end (minizip skips
    // over extra blocks that way); reads there return nothing.
    if (target < offset)
        return -1;
    s->pos = target;
    return 0;
}

int ZCALLBACK MemClose(voidpf, voidpf) {
    return 0;
}
int ZCALLBACK MemError(voidpf, voidpf) {
    return 0;
}

// ---- the reader ----

// Fields of the central-directory record the extraction needs besides the
// public record.
struct EntryRaw {
    uint64_t uncompressedSize = 0;  // the whole of it, also past 4 GiB
    uLong flag = 0;
    uLong crc = 0;
    uLong dosDate = 0;
};

struct Reader {
    MemoryStream stream;
    unzFile archive = nullptr;
    int entries = 0;
    int current = -1;    // minizip's current entry
    int openIndex = -1;  // entry whose data is open
    int cachedIndex = -1;
    ZipEntryInfo cached;
    EntryRaw cachedRaw;
    std::vector<char> buffer;  // the 16 KiB write buffer, made on first use
    std::string password;
    std::string base;  // current folder at open time, ends in "/"
    // What every extraction from this handle may write together, and what
    // it wrote so far.
    uint64_t limit = UINT64_MAX;
    uint64_t written = 0;
};

Reader* ReaderOf(ZipHandle handle) {
    return static_cast<Reader*>(handle->reader);
}

void CloseOpenData(Reader* r) {
    if (r->openIndex >= 0) {
        unzCloseCurrentFile(r->archive);
        r->openIndex = -1;
    }
}

bool MoveTo(Reader* r, int index) {
    if (r->current < 0 || index < r->current) {
        if (unzGoToFirstFile(r->archive) != UNZ_OK)
            return false;
        r->current = 0;
    }
    while (r->current < index) {
        if (unzGoToNextFile(r->archive) != UNZ_OK) {
            r->current = -1;
            return false;
        }
        ++r->current;
    }
    return true;
}

uint64_t FileTimeFromUnix(int64_t seconds) {
    return static_cast<uint64_t>(seconds * 10000000LL + 116444736000000000LL);
}

// The MS-DOS date and time, taken as local time.
uint64_t FileTimeFromDos(uLong dosDate) {
    const unsigned date = static_cast<unsigned>(dosDate >> 16) & 0xFFFF;
    const unsigned time = static_cast<unsigned>(dosDate) & 0xFFFF;
    std::tm tm{};
    tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_hour = static_cast<int>(time >> 11);
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_year = static_cast<int>(date >> 9) + 80;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : FileTimeFromUnix(static_cast<int64_t>(t));
}

uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The "UT" block of the local extra field (step 7 of Get entry).
void ApplyExtendedTimes(const std::vector<uint8_t>& extra, ZipEntryInfo* info) {
    const std::size_t len = extra.size();
    std::size_t pos = 0;
    while (pos < len && len - pos > 4) {
        const std::size_t size = extra[pos + 2];  // the high size byte is ignored
        if (extra[pos] == 'U' && extra[pos + 1] == 'T') {
            const std::size_t limit = pos + 4 + size < len ? pos + 4 + size : len;
            const uint8_t flags = extra[pos + 4];
            std::size_t p = pos + 5;
            uint64_t* targets[3] = {&info->lastWriteTime, &info->lastAccessTime,
                                    &info->creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1u << bit)))
                    continue;
                if (p + 4 > limit)
                    break;
                *targets[bit] = FileTimeFromUnix(static_cast<int64_t>(Load32(&extra[p])));
                p += 4;
            }
            return;
        }
        pos += 4 + size;
    }
}

std::size_t CutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return text.size();
    std::size_t n = limit;
    int back = 0;
    while (n > 0 && back < 3 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
        ++back;
    }
    return (static_cast<unsigned char>(text[n]) & 0xC0) != 0x80 ? n : limit;
}

// Steps 4 to 8 of Get entry for the entry at index (not cached).
ZipResult ReadRecord(Reader* r, int index, ZipEntryInfo* info, EntryRaw* raw) {
    if (!MoveTo(r, index))
        return kZipCorrupt;
    unz_file_info64 fi{};
    if (unzGetCurrentFileInfo64(r->archive, &fi, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return kZipCorrupt;
    std::string stored(fi.size_filename, '\0');
    if (fi.size_filename > 0 &&
        unzGetCurrentFileInfo64(r->archive, &fi, stored.data(), fi.size_filename, nullptr, 0,
                                nullptr, 0) != UNZ_OK)
        return kZipCorrupt;

    // The local header must agree with the central directory; then its extra field.
    int method = 0, level = 0;
    if (unzOpenCurrentFile2(r->archive, &method, &level, 1) != UNZ_OK)
        return kZipCorrupt;
    std::vector<uint8_t> extra;
    const int extraSize = unzGetLocalExtrafield(r->archive, nullptr, 0);
    if (extraSize < 0) {
        unzCloseCurrentFile(r->archive);
        return kZipRead;
    }
    if (extraSize > 0) {
        extra.resize(static_cast<std::size_t>(extraSize));
        const int got =
            unzGetLocalExtrafield(r->archive, extra.data(), static_cast<unsigned>(extraSize));
        if (got != extraSize) {
            unzCloseCurrentFile(r->archive);
            return kZipRead;
        }
    }
    unzCloseCurrentFile(r->archive);

    std::memset(static_cast<void*>(info), 0, sizeof *info);
    info->index = index;

    const std::string cleaned = ZipCleanEntryName(stored);
    const std::size_t n = CutUtf8(cleaned, kZipMaxName - 1);
    std::memcpy(info->name, cleaned.data(), n);
    info->name[n] = '\0';

    // Attributes.
    const uint32_t fa = static_cast<uint32_t>(fi.external_fa);
    const unsigned host = static_cast<unsigned>(fi.version >> 8) & 0xFF;
    const bool dosHost = host == 0 || host == 7 || host == 11 || host == 14;
    uint32_t attributes;
    if (dosHost) {
        attributes = fa & (kZipAttrReadOnly | kZipAttrHidden | kZipAttrSystem | kZipAttrDirectory |
                           kZipAttrArchive);
    } else {
        attributes = kZipAttrArchive;
        if (fa & 0x40000000u)
            attributes |= kZipAttrDirectory;
        if (!(fa & 0x00800000u))
            attributes |= kZipAttrReadOnly;
    }
    // A stored name ending in a separator is a folder whatever its attributes.
    const std::string_view storedView(stored.c_str());
    if (!storedView.empty() && (storedView.back() == '/' || storedView.back() == '\\'))
        attributes |= kZipAttrDirectory;
    info->attributes = attributes;
    if (attributes & kZipAttrDirectory) {
        info->mode = 0777;
    } else {
        uint32_t mode = dosHost ? 0 : (fa >> 16) & 0777;
        if (mode == 0)
            mode = 0666;
        if (attributes & kZipAttrReadOnly)
            mode &= ~0222u;
        info->mode = mode;
    }

    // Times.
    const uint64_t dos = FileTimeFromDos(fi.dosDate);
    info->lastAccessTime = info->creationTime = info->lastWriteTime = dos;
    ApplyExtendedTimes(extra, info);

    info->compressedSize = static_cast<uint32_t>(fi.compressed_size);
    info->uncompressedSize = static_cast<uint32_t>(fi.uncompressed_size);

    raw->uncompressedSize = fi.uncompressed_size;
    raw->flag = fi.flag;
    raw->crc = fi.crc;
    raw->dosDate = fi.dosDate;
    return kZipOk;
}

ZipResult GetEntry(Reader* r, int index, ZipEntryInfo* info, EntryRaw* raw) {
    if (index == r->cachedIndex && index >= 0) {
        std::memcpy(static_cast<void*>(info), &r->cached,
                    sizeof *info);  // the identical record, padding too
        if (raw)
            *raw = r->cachedRaw;
        return kZipOk;
    }
    EntryRaw localRaw;
    const ZipResult code = ReadRecord(r, index, info, &localRaw);
    if (code != kZipOk)
        return code;
    r->cachedIndex = index;
    std::memcpy(static_cast<void*>(&r->cached), info, sizeof *info);
    r->cachedRaw = localRaw;
    if (raw)
        *raw = localRaw;
    return kZipOk;
}

// PKWARE traditional encryption: whether the 12-byte header decrypts with
// the password to the expected check byte.
bool PasswordMatches(const std::string& password, const uint8_t* header, uint8_t check) {
    const z_crc_t* table = get_crc_table();
    uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;
    auto update = [&](uint8_t c) {
        k0 = static_cast<uint32_t>(table[(k0 ^ c) & 0xFF] ^ (k0 >> 8));
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = static_cast<uint32_t>(table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8));
    };
    for (char c : password)
        update(static_cast<uint8_t>(c));
    uint8_t last = 0;
    for (int i = 0; i < 12; ++i) {
        const uint32_t temp = (k2 | 2) & 0xFFFF;
        const uint8_t plain =
            static_cast<uint8_t>(header[i] ^ static_cast<uint8_t>((temp * (temp ^ 1)) >> 8));
        update(plain);
        last = plain;
    }
    return last == check;
}

bool HasDotDotStep(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// Create every missing folder of path (placed below base when base is given);
// failures are not reported.
void CreateFolders(const std::string& base, const std::string& path) {
    if (!base.empty() && !platform::IsDirectory(base))
        platform::MakeDirectoryPath(base, 0777);
    platform::MakeDirectoryPath(base + path, 0777);
}

// A file time (100 ns steps since 1601) as nanoseconds since 1970.
int64_t UnixNanoseconds(uint64_t fileTime) {
    return (static_cast<int64_t>(fileTime) - 116444736000000000LL) * 100;
}

// Steps 3 to 5 of Extract entry for a file entry: name in folder. A file
// cut short by a cap is removed again, so that a bomb leaves nothing behind.
ZipResult ExtractFile(Reader* r, int index, const ZipEntryInfo& info, const EntryRaw& raw,
                      const platform::Directory& folder, const std::string& name) {
    // An entry that says it is larger than what is left of the cap is
    // refused before a byte is written.
    if (raw.uncompressedSize > r->limit - r->written)
        return kZipWrite;
    platform::FileHandle file = folder.CreateFile(name, info.mode);
    if (!file.IsValid())
        return kZipNoFile;

    const bool encrypted = (raw.flag & 1) != 0;
    if (encrypted) {
        // Check the password against the encryption header before decrypting.
        int method = 0, level = 0;
        if (unzOpenCurrentFile2(r->archive, &method, &level, 1) != UNZ_OK)
            return kZipCorrupt;
        const ZPOS64_T at = unzGetCurrentFileZStreamPos64(r->archive);
        unzCloseCurrentFile(r->archive);
        if (at + 12 > r->stream.size)
            return kZipFlate;
        const uint8_t check = (raw.flag & 8) ? static_cast<uint8_t>((raw.dosDate >> 8) & 0xFF)
                                             : static_cast<uint8_t>((raw.crc >> 24) & 0xFF);
        if (!PasswordMatches(r->password, r->stream.data + at, check))
            return kZipPassword;
    }
    // Debian's minizip is built without decryption (NOUNCRYPT): a password it
    // is given makes it refuse the entry, so an encrypted entry whose header
    // check passed still cannot be read.
    if (unzOpenCurrentFilePassword(r->archive, encrypted ? r->password.c_str() : nullptr) != UNZ_OK)
        return encrypted ? kZipPassword : kZipCorrupt;
    r->openIndex = index;
    if (r->buffer.empty())
        r->buffer.resize(kWriteBufferSize);

    ZipResult code = kZipOk;
    uint64_t entryBytes = 0;
    for (;;) {
        const int n = unzReadCurrentFile(r->archive, r->buffer.data(),
                                         static_cast<unsigned>(r->buffer.size()));
        if (n < 0) {
            code = encrypted ? kZipPassword : kZipFlate;
            break;
        }
        if (n == 0) {
            if (unzeof(r->archive) != 1)
                code = kZipFlate;
            break;
        }
        // An entry that inflates past the size it declared is lying (a
        // compression bomb): it is stopped there. The cap of the whole
        // archive holds all the same.
        entryBytes += static_cast<uint64_t>(n);
        if (entryBytes > raw.uncompressedSize) {
            code = kZipFlate;
            break;
        }
        if (static_cast<uint64_t>(n) > r->limit - r->written) {
            code = kZipWrite;
            break;
        }
        if (!file.Write(r->buffer.data(), static_cast<size_t>(n))) {
            code = kZipWrite;
            break;
        }
        r->written += static_cast<uint64_t>(n);
    }
    const int closed = unzCloseCurrentFile(r->archive);
    r->openIndex = -1;
    if (code == kZipOk && closed == UNZ_CRCERROR)
        code = encrypted ? kZipPassword : kZipFlate;
    if (code == kZipOk) {
        // Linux keeps no creation time: last access and last write are set.
        file.SetTimes(UnixNanoseconds(info.lastAccessTime), UnixNanoseconds(info.lastWriteTime));
    }
    if (!file.Close() && code == kZipOk)
        code = kZipWrite;
    if (code == kZipFlate || code == kZipWrite)
        folder.Remove(name);
    return code;
}

// The entry, its record and minizip standing on it, for an extraction.
ZipResult PrepareExtraction(Reader* r, int index, ZipEntryInfo& info, EntryRaw& raw) {
    const ZipResult code = GetEntry(r, index, &info, &raw);
    if (code != kZipOk)
        return code;
    if (!MoveTo(r, index))  // a cached record leaves minizip where it stands
        return kZipCorrupt;
    return kZipOk;
}

}  // namespace

std::string ZipCleanEntryName(std::string_view stored) {
    const std::size_t nul = stored.find('\0');
    if (nul != npos)
        stored = stored.substr(0, nul);
    static constexpr std::string_view kSteps[4] = {"\\..\\", "\\../", "/../", "/..\\"};
    std::size_t next[4];
    for (int k = 0; k < 4; ++k)
        next[k] = stored.find(kSteps[k]);
    std::size_t start = 0;
    for (;;) {
        const std::string_view rest = stored.substr(start);
        if (rest.size() >= 2 && rest[1] == ':') {
            start += 2;
            continue;
        }
        if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) {
            start += 1;
            continue;
        }
        bool matched = false;
        for (int k = 0; k < 4 && !matched; ++k) {
            // The first occurrence at or after start (occurrences only move on).
            if (next[k] != npos && next[k] < start)
                next[k] = stored.find(kSteps[k], start);
            if (next[k] != npos) {
                start = next[k] + kSteps[k].size();
                matched = true;
            }
        }
        if (!matched)
            break;
    }
    return std::string(stored.substr(start));
}

bool ZipIsSafeEntryName(std::string_view cleaned) {
    if (!cleaned.empty() && (cleaned[0] == '/' || cleaned[0] == '\\'))
        return false;
    return !HasDotDotStep(cleaned);
}

ZipHandle ZipOpenMemory(const void* data, uint32_t length, const char* password) {
    if (!data) {
        Done(kZipArgs);
        return nullptr;
    }
    auto* reader = new Reader;
    reader->stream.data = static_cast<const uint8_t*>(data);
    reader->stream.size = length;
    if (password)
        reader->password = password;
    reader->base = platform::CurrentFolder();
    zlib_filefunc64_def functions{};
    functions.zopen64_file = MemOpen;
    functions.zread_file = MemRead;
    functions.zwrite_file = MemWrite;
    functions.ztell64_file = MemTell;
    functions.zseek64_file = MemSeek;
    functions.zclose_file = MemClose;
    functions.zerror_file = MemError;
    functions.opaque = &reader->stream;
    reader->archive = unzOpen2_64("memory", &functions);
    if (!reader->archive) {
        delete reader;
        Done(kZipNoFile);
        return nullptr;
    }
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(reader->archive, &global) != UNZ_OK ||
        global.number_entry > 0x7FFFFFFF) {
        unzClose(reader->archive);
        delete reader;
        Done(kZipNoFile);
        return nullptr;
    }
    reader->entries = static_cast<int>(global.number_entry);
    reader->current = reader->entries > 0 ? 0 : -1;  // minizip stands on the first entry
    auto* handle = new ZipHandleData;
    handle->kind = kZipReadingHandle;
    handle->reader = reader;
    Done(kZipOk);
    return handle;
}

ZipResult ZipGetEntry(ZipHandle handle, int index, ZipEntryInfo* info) {
    if (!handle)
        return Done(kZipArgs);
    if (handle->kind != kZipReadingHandle)
        return Done(kZipMode);
    if (!info)
        return Done(kZipArgs);
    Reader* r = ReaderOf(handle);
    if (index < -1 || index >= r->entries)
        return Done(kZipArgs);
    CloseOpenData(r);
    if (index == -1) {
        std::memset(static_cast<void*>(info), 0, sizeof *info);
        info->index = r->entries;
        return Done(kZipOk);
    }
    return Done(GetEntry(r, index, info, nullptr));
}

namespace {

// What both extractions do first: check the handle and the entry, read the
// entry, and take the destination with "\\" as "/". kZipOk leaves r, info, raw
// and path set for the entry's extraction.
ZipResult BeginExtraction(ZipHandle handle, int index, const char* destination,
                          bool destinationUsable, Reader*& r, ZipEntryInfo& info, EntryRaw& raw,
                          std::string& path) {
    if (!handle)
        return kZipArgs;
    if (handle->kind != kZipReadingHandle)
        return kZipMode;
    r = ReaderOf(handle);
    CloseOpenData(r);
    if (!destination || !destinationUsable || index < 0 || index >= r->entries)
        return kZipArgs;
    if (const ZipResult code = PrepareExtraction(r, index, info, raw); code != kZipOk)
        return code;
    path = destination;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return kZipOk;
}

}  // namespace

ZipResult ZipExtractEntry(ZipHandle handle, int index, const char* destination) {
    Reader* r = nullptr;
    ZipEntryInfo info;
    EntryRaw raw;
    std::string path;
    if (const ZipResult code =
            BeginExtraction(handle, index, destination, true, r, info, raw, path);
        code != kZipOk)
        return Done(code);

    // A zip slip is refused: the entry's name must stay below the folder it
    // goes to, and the destination must not step out with "..".
    if (path.empty() || !ZipIsSafeEntryName(info.name) || HasDotDotStep(path))
        return Done(kZipNoFile);
    const bool absolute = path[0] == '/';
    const std::string base = absolute ? std::string() : r->base;

    if (info.attributes & kZipAttrDirectory) {
        CreateFolders(base, path);
        return Done(kZipOk);
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == npos ? path : path.substr(slash + 1);
    if (name.empty())
        return Done(kZipNoFile);
    if (!folder.empty())
        CreateFolders(base, folder);
    const std::string folderPath = base + folder;
    const platform::Directory dir =
        platform::Directory::Open(folderPath.empty() ? std::string(".") : folderPath);
    if (!dir.IsValid())
        return Done(kZipNoFile);
    return Done(ExtractFile(r, index, info, raw, dir, name));
}

ZipResult ZipExtractEntryAt(ZipHandle handle, int index, const platform::Directory& folder,
                            const char* relative) {
    Reader* r = nullptr;
    ZipEntryInfo info;
    EntryRaw raw;
    std::string path;
    if (const ZipResult code =
            BeginExtraction(handle, index, relative, folder.IsValid(), r, info, raw, path);
        code != kZipOk)
        return Done(code);
    if (path.empty() || !ZipIsSafeEntryName(info.name) || !ZipIsSafeEntryName(path))
        return Done(kZipNoFile);
    if (info.attributes & kZipAttrDirectory)
        return Done(folder.Descend(path, true).IsValid() ? kZipOk : kZipNoFile);
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == npos ? path : path.substr(slash + 1);
    if (name.empty())
        return Done(kZipNoFile);
    const platform::Directory dir =
        folder.Descend(slash == npos ? std::string() : path.substr(0, slash), true);
    if (!dir.IsValid())
        return Done(kZipNoFile);
    return Done(ExtractFile(r, index, info, raw, dir, name));
}

ZipResult ZipSetUnpackLimit(ZipHandle handle, uint64_t bytes) {
    if (!handle)
        return Done(kZipArgs);
    if (handle->kind != kZipReadingHandle)
        return Done(kZipMode);
    Reader* r = ReaderOf(handle);
    r->limit = bytes;
    return Done(kZipOk);
}

ZipResult ZipClose(ZipHandle handle) {
    if (!handle)
        return Done(kZipArgs);
    if (handle->kind != kZipReadingHandle)
        return Done(kZipMode);
    Reader* r = ReaderOf(handle);
    CloseOpenData(r);
    unzClose(r->archive);
    delete r;
    handle->kind = 0;
    handle->reader = nullptr;
    delete handle;
    return Done(kZipOk);
}

ZipResult ZipLastResult() {
    return g_lastResult.load();
}

const char* ZipResultText(ZipResult code) {
    switch (code) {
        case kZipOk:
            return "Success";
        case kZipNoFile:
            return "Couldn't create/open file";
        case kZipWrite:
            return "Error writing to file";
        case kZipCorrupt:
            return "Zipfile is corrupt or not a zipfile";
        case kZipRead:
            return "Error reading file";
        case kZipPassword:
            return "Correct password required";
        case kZipArgs:
            return "Caller: faulty arguments";
        case kZipMode:
            return "Caller: mixing creation and opening of zip";
        case kZipFlate:
            return "Zip-bug: an internal error during flation";
        default:
            return "unknown zip result code";
    }
}
