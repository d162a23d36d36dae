#include "launcher/core/FileListText.h"

#include <cctype>

namespace launcher {
namespace {

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void AddLine(std::string_view line, ParsedFileList& list) {
    if (line.size() >= kMaxUrlLine) {
        ++list.refusedLines;
        return;
    }
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && IsBlank(line[begin]))
        ++begin;
    while (end > begin && IsBlank(line[end - 1]))
        --end;
    list.urls.emplace_back(line.substr(begin, end - begin));
}

}  // namespace

ParsedFileList ParseFileList(std::string_view data) {
    ParsedFileList list;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        size_t endLength = 0;
        if (data[i] == '\n')
            endLength = 1;
        else if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            endLength = 2;
        if (endLength == 0)
            continue;
        if (i > start)
            AddLine(data.substr(start, i - start), list);
        i += endLength - 1;
        start = i + 1;
    }
    if (data.size() - start > 2)
        AddLine(data.substr(start), list);
    return list;
}

bool IsInstallerCandidate(std::string_view localPath, size_t urlCount) {
    if (urlCount == 1)
        return true;
    const size_t dot = localPath.rfind('.');
    if (localPath.empty() || dot == std::string_view::npos)
        return false;
    const std::string_view extension = localPath.substr(dot);
    if (extension.size() != 4)
        return false;
    std::string lower;
    for (char c : extension)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == ".exe";
}

std::string JobFilePath(std::string_view folder, std::string_view url) {
    std::string path(folder);
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    if (path.empty() || path.back() != '/')
        path += '/';
    const size_t slash = url.rfind('/');
    path += slash == std::string_view::npos ? url : url.substr(slash + 1);
    return path;
}

}  // namespace launcher
