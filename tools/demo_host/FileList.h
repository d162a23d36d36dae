#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The game's file list: a text document with one URL per line.
struct FileList {
    // The URLs in file order, trimmed of white space at both ends.
    std::vector<std::string> urls;
    // One-based number of the first line of kMaxLineLength bytes or more, 0
    // when there is none. Such a list is refused as a whole: a URL that long
    // is not one the library can request.
    size_t longLine = 0;
};

// Lines are ended by CR LF or by a lone LF; a lone CR stays inside its line.
// The last piece without a line end counts only when it is longer than two
// bytes. Lines that are empty after trimming are skipped: they name no file.
// The bytes are taken as they are, without any encoding conversion.
FileList SplitFileList(std::string_view bytes);

inline constexpr size_t kMaxLineLength = 1024;
