#pragma once

#include <cstdint>
#include <string>

namespace platform {

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Creates one directory (its parent must exist). True when it exists afterwards.
bool MakeDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
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
