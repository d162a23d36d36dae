#include "library/actions/C7ZipExtractAction.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "library/actions/CStagedFiles.h"
#include "library/common/DirectoryPath.h"

namespace {

constexpr int32_t kWriteFailed = 11;

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};

// Writes the current entry's data to path; false on a decoding or write failure
// (writeFailed tells which).
bool WriteEntry(archive* reader, const std::string& path, mode_t mode, bool& writeFailed) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        writeFailed = true;
        return false;
    }
    bool ok = true;
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(reader, &block, &length, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            ok = false;
            break;
        }
        // Sparse entries come with offsets; a 7z file's blocks are contiguous,
        // but write where the reader says all the same.
        const auto* bytes = static_cast<const uint8_t*>(block);
        size_t done = 0;
        while (done < length) {
            const ssize_t n = pwrite(fd, bytes + done, length - done, offset + done);
            if (n <= 0) {
                writeFailed = true;
                ok = false;
                break;
            }
            done += static_cast<size_t>(n);
        }
        if (!ok)
            break;
    }
    if (close(fd) != 0 && ok) {
        writeFailed = true;
        ok = false;
    }
    return ok;
}

}  // namespace

int32_t SevenZipUnpack(const std::string& folder, const uint8_t* data, int64_t size) {
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    if (!reader || archive_read_support_format_7zip(reader.get()) != ARCHIVE_OK)
        return kExtractNoArchive;
    if (archive_read_open_memory(reader.get(), data, static_cast<size_t>(size)) != ARCHIVE_OK)
        return kExtractNoArchive;

    CStagedFiles staged(folder);
    bool opened = false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return opened ? kExtractFailed : kExtractNoArchive;
        opened = true;
        const mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFDIR)
            continue;
        if (type != AE_IFREG)
            return kExtractFailed;
        if (archive_entry_is_encrypted(entry))
            return kExtractUnsupported;
        const char* name = archive_entry_pathname_utf8(entry);
        if (!name)
            name = archive_entry_pathname(entry);
        const std::string path = name ? staged.Stage(name) : std::string();
        if (path.empty())
            return kExtractFailed;
        // The stored permissions, but always readable and writable by the
        // owner, so that a later update can replace the file.
        mode_t mode = archive_entry_perm(entry) & 0777;
        mode = (mode == 0 ? 0644 : mode) | 0600;
        bool writeFailed = false;
        if (!WriteEntry(reader.get(), path, mode, writeFailed))
            return writeFailed ? kWriteFailed : kExtractFailed;
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
