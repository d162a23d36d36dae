#include "ostra/norvikqos/object/qvCStringSplitter.h"

#include <cstring>

void qvCStringSplitter::Split(const char* text, char separator) {
    tokens_.clear();
    next_ = 0;
    if (!text)
        return;
    const char* start = text;
    for (const char* p = text;; ++p) {
        if (*p == separator || *p == '\0') {
            if (p > start)
                tokens_.emplace_back().Assign(start, static_cast<size_t>(p - start));
            if (*p == '\0')
                break;
            start = p + 1;
        }
    }
}

qvCString qvCStringSplitter::Next() {
    if (next_ >= tokens_.size())
        return {};
    return tokens_[next_++];
}
