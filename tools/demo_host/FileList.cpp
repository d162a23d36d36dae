#include "FileList.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

FileList SplitFileList(std::string_view bytes) {
    FileList list;
    size_t lineNumber = 0;
    auto add = [&list, &lineNumber](std::string_view line) {
        ++lineNumber;
        if (line.size() >= kMaxLineLength) {
            if (list.longLine == 0)
                list.longLine = lineNumber;
            return;
        }
        const std::string_view url = Trimmed(line);
        if (!url.empty())
            list.urls.emplace_back(url);
    };

    size_t start = 0;
    for (size_t lf = bytes.find('\n'); lf != std::string_view::npos; lf = bytes.find('\n', start)) {
        size_t end = lf;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        if (end > start)
            add(bytes.substr(start, end - start));
        else
            ++lineNumber;
        start = lf + 1;
    }
    if (bytes.size() - start > 2)
        add(bytes.substr(start));
    return list;
}
