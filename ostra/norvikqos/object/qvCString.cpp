#include "ostra/norvikqos/object/qvCString.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

qvCString::qvCString(const char* text) {
    Assign(text);
}

qvCString::qvCString(char c) {
    Assign(&c, 1);
}

qvCString::qvCString(const qvCString& other) {
    Assign(other.CStr(), other.length_);
}

qvCString::qvCString(qvCString&& other) noexcept {
    length_ = other.length_;
    capacity_ = other.capacity_;
    if (other.IsInline())
        std::memcpy(inline_, other.inline_, sizeof inline_);
    else
        heap_ = other.heap_;
    other.length_ = 0;
    other.capacity_ = 0;
    other.inline_[0] = '\0';
}

qvCString::~qvCString() {
    Clear();
}

qvCString& qvCString::operator=(const qvCString& other) {
    if (this != &other)
        Assign(other.CStr(), other.length_);
    return *this;
}

qvCString& qvCString::operator=(qvCString&& other) noexcept {
    if (this != &other) {
        Clear();
        new (this) qvCString(std::move(other));
    }
    return *this;
}

qvCString& qvCString::operator=(const char* text) {
    Assign(text);
    return *this;
}

void qvCString::Clear() {
    if (!IsInline())
        std::free(heap_);
    length_ = 0;
    capacity_ = 0;
    std::memset(inline_, 0, sizeof inline_);
}

void qvCString::Assign(const char* text) {
    Assign(text, text ? std::strlen(text) : 0);
}

void qvCString::Assign(const char* bytes, size_t length) {
    if (!bytes || length == 0) {
        Clear();
        return;
    }
    if (length > UINT32_MAX - 1)
        return;
    const auto n = static_cast<uint32_t>(length);
    if (n <= kInlineMax) {
        // The source may point into our own heap block: copy before freeing it.
        char copy[kInlineMax + 1] = {};
        std::memcpy(copy, bytes, n);
        Clear();
        std::memcpy(inline_, copy, n + 1);
        length_ = n;
        return;
    }
    if (!IsInline() && n <= capacity_) {
        std::memmove(heap_, bytes, n);
        heap_[n] = '\0';
        length_ = n;
        return;
    }
    char* block = static_cast<char*>(std::malloc(n + 1));
    if (!block)
        return;
    std::memcpy(block, bytes, n);
    block[n] = '\0';
    Clear();
    heap_ = block;
    length_ = n;
    capacity_ = n;
}

void qvCString::Append(const char* text) {
    Append(text, text ? std::strlen(text) : 0);
}

void qvCString::Append(const char* bytes, size_t length) {
    if (!bytes || length == 0)
        return;
    if (length > UINT32_MAX - 1 - length_)
        return;
    const uint32_t total = length_ + static_cast<uint32_t>(length);
    if (total <= kInlineMax) {
        std::memmove(inline_ + length_, bytes, length);
        inline_[total] = '\0';
        length_ = total;
        return;
    }
    char* block = static_cast<char*>(std::malloc(total + 1));
    if (!block)
        return;
    std::memcpy(block, CStr(), length_);
    std::memcpy(block + length_, bytes, length);
    block[total] = '\0';
    Clear();
    heap_ = block;
    length_ = total;
    capacity_ = total;
}

qvCString qvCString::Substring(uint32_t start, uint32_t count) const {
    qvCString result;
    if (count > kMaxSubstring || start > length_)
        return result;
    if (count > length_ - start)
        count = length_ - start;
    result.Assign(CStr() + start, count);
    return result;
}

int32_t qvCString::Find(const char* needle, uint32_t start) const {
    if (!needle || start > length_)
        return -1;
    const char* found = std::strstr(CStr() + start, needle);
    return found ? static_cast<int32_t>(found - CStr()) : -1;
}

int qvCString::Compare(const qvCString& other) const {
    return std::strcmp(CStr(), other.CStr());
}

void qvCString::ToLower() {
    char* p = IsInline() ? inline_ : heap_;
    for (uint32_t i = 0; i < length_; ++i) {
        if (p[i] >= 'A' && p[i] <= 'Z')
            p[i] = static_cast<char>(p[i] - 'A' + 'a');
    }
}
