#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Creates one directory (its parent must exist). True when it exists afterwards.
bool MakeDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
// Creates every missing folder along path (each with mode before the umask).
// True when path is a folder afterwards.
bool MakeDirectoryPath(const std::string& path, uint32_t mode);
// Replaces the file's contents as one step: written to a new file beside it
// (a name of its own, so that two writers never share one), flushed, then
// renamed over it. A reader sees the old contents or the new, never a part.
bool ReplaceFileContents(const std::string& path, std::string_view contents);
// The size of the regular file at path itself (a link to one does not
// count); -1 when there is none.
int64_t RegularFileSize(const std::string& path);

// Free bytes of the file system that holds path, or of its nearest existing
// ancestor when path does not exist yet. 0 when nothing could be asked.
int64_t FreeBytes(const std::string& path);

// Tests replace the free-space query (for a disk that is "full" without
// filling one); nullptr restores the real one.
using FreeBytesProbe = int64_t (*)(const std::string& path);
void SetFreeBytesProbe(FreeBytesProbe probe);

}  // namespace platform
