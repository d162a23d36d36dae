#include "library/actions/C7ZipExtractAction.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include "library/actions/CStagedFiles.h"
#include "library/common/DirectoryPath.h"
#include "platform/Directory.h"

namespace {

constexpr int32_t kWriteFailed = 11;

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};

enum class EntryWrite { kOk, kDamaged, kTooLarge, kNotWritten };

// The bytes left of an archive's cap, and whether an entry fits.
struct Budget {
    uint64_t left;
    bool Take(uint64_t bytes) {
        if (bytes > left)
            return false;
        left -= bytes;
        return true;
    }
};

// Writes the current entry's data to the file staged at path. An entry never
// writes past the size its header declares, nor past the archive's budget.
EntryWrite WriteEntry(archive* reader, const std::string& path, uint32_t mode, uint64_t declared,
                      Budget& budget) {
    const size_t slash = path.rfind('/');
    const platform::Directory folder = platform::Directory::Open(path.substr(0, slash + 1));
    const std::string name = path.substr(slash + 1);
    platform::FileHandle file = folder.CreateFile(name, mode);
    if (!file.IsValid())
        return EntryWrite::kNotWritten;
    EntryWrite result = EntryWrite::kOk;
    uint64_t written = 0;
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(reader, &block, &length, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            result = EntryWrite::kDamaged;
            break;
        }
        // A 7z file's blocks are contiguous: a block anywhere else is no
        // part of a file this reader writes.
        if (offset < 0 || static_cast<uint64_t>(offset) != written) {
            result = EntryWrite::kDamaged;
            break;
        }
        if (length > declared - written || !budget.Take(length)) {
            result = EntryWrite::kTooLarge;
            break;
        }
        if (!file.Write(block, length)) {
            result = EntryWrite::kNotWritten;
            break;
        }
        written += length;
    }
    if (!file.Close() && result == EntryWrite::kOk)
        result = EntryWrite::kNotWritten;
    return result;
}

}  // namespace

int32_t SevenZipUnpack(const std::string& folder, const uint8_t* data, int64_t size,
                       uint64_t limit) {
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    if (!reader || archive_read_support_format_7zip(reader.get()) != ARCHIVE_OK)
        return kExtractNoArchive;
    if (archive_read_open_memory(reader.get(), data, static_cast<size_t>(size)) != ARCHIVE_OK)
        return kExtractNoArchive;

    CStagedFiles staged(folder);
    Budget budget{limit};
    bool opened = false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return opened ? kExtractFailed : kExtractNoArchive;
        opened = true;
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR)
            continue;
        if (type != AE_IFREG)
            return kExtractFailed;
        if (archive_entry_is_encrypted(entry))
            return kExtractUnsupported;
        // The declared size is checked before a byte is decoded: an archive
        // that says it is too large is not unpacked up to the cap first.
        // (Without a declared size only the budget bounds the entry.)
        const la_int64_t stated = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        const uint64_t declared = stated >= 0 ? static_cast<uint64_t>(stated) : budget.left;
        if (declared > budget.left)
            return kExtractFailed;
        const char* name = archive_entry_pathname_utf8(entry);
        if (!name)
            name = archive_entry_pathname(entry);
        const std::string path = name ? staged.Stage(name) : std::string();
        if (path.empty())
            return kExtractFailed;
        // The stored permissions, but always readable and writable by the
        // owner, so that a later update can replace the file.
        uint32_t mode = archive_entry_perm(entry) & 0777;
        mode = (mode == 0 ? 0644 : mode) | 0600;
        switch (WriteEntry(reader.get(), path, mode, declared, budget)) {
            case EntryWrite::kOk:
                break;
            case EntryWrite::kDamaged:
            case EntryWrite::kTooLarge:
                return kExtractFailed;
            case EntryWrite::kNotWritten:
                return kWriteFailed;
        }
    }
    return staged.Commit() ? kExtractOk : kWriteFailed;
}

int32_t C7ZipExtractAction::Extract(const uint8_t* data, int64_t size, const std::string& folder) {
    if (!data || size <= 0 || folder.empty())
        return kExtractBadArguments;
    EnsureDirectoryPath(NormaliseFolder(folder));
    const int32_t result = SevenZipUnpack(folder, data, size);
    switch (result) {
        case kExtractOk:
        case kExtractNoArchive:
        case kExtractBadArguments:
        case kExtractUnsupported:
        case kExtractParameter:
            return result;
        default:
            return kExtractFailed;
    }
}
