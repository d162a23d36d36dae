#pragma once

// The file list as the content server sends it: one URL per line, bytes as
// they are (no encoding conversion), and which completed file is the installer.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Lines this long or longer are no URL the library could take.
inline constexpr size_t kMaxUrlLine = 1024;

struct ParsedFileList {
    // Every accepted line, trimmed of white space at both ends, in list order
    // (a line of blanks stays as an empty entry).
    std::vector<std::string> urls;
    // Lines refused for their length; each is reported once.
    int refusedLines = 0;
};

// CR LF and a lone LF end a line, a lone CR does not. Empty lines are
// skipped; the piece after the last line end counts only when it is longer
// than 2 bytes (a stray "\r" or a two-byte tail is no URL).
ParsedFileList ParseFileList(std::string_view data);

// A completed file becomes the installer when the list names one file only,
// or when its path ends in ".exe" (any letter case).
bool IsInstallerCandidate(std::string_view localPath, size_t urlCount);

// Where a job puts the file of url in folder, as the library names it: the
// folder with "/" separators and a final "/", then the characters after the
// URL's last "/" (the whole URL when it has none). Only such a path of the
// launcher's own job is ever taken as the installer.
std::string JobFilePath(std::string_view folder, std::string_view url);

}  // namespace launcher
