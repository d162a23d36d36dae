#pragma once

#include <cstddef>
#include <cstdint>

// An 8-bit string (system code page or UTF-8, as the caller decides; no
// conversion). Texts of up to 3 characters live inline without a heap block.
class qvCString {
  public:
    static constexpr uint32_t kInlineMax = 3;
    static constexpr uint32_t kMaxSubstring = 0x100000;

    qvCString() = default;
    qvCString(const char* text);  // NOLINT: implicit by design, like the text it holds
    explicit qvCString(char c);
    qvCString(const qvCString& other);
    qvCString(qvCString&& other) noexcept;
    ~qvCString();
    qvCString& operator=(const qvCString& other);
    qvCString& operator=(qvCString&& other) noexcept;
    qvCString& operator=(const char* text);

    // Null or empty text clears. A long text reuses the heap block when it fits.
    void Assign(const char* text);
    void Assign(const char* bytes, size_t length);
    // A failed allocation leaves the string as it was.
    void Append(const char* text);
    void Append(const char* bytes, size_t length);

    qvCString Substring(uint32_t start, uint32_t count) const;
    // Index of the first occurrence at or after start, or -1.
    int32_t Find(const char* needle, uint32_t start = 0) const;

    const char* CStr() const { return IsInline() ? inline_ : heap_; }
    uint32_t Length() const { return length_; }
    bool IsEmpty() const { return length_ == 0; }
    // True while the text sits in the inline storage (for tests of the rule).
    bool IsInline() const { return length_ <= kInlineMax; }
    int Compare(const qvCString& other) const;
    bool Equals(const qvCString& other) const { return Compare(other) == 0; }
    bool operator==(const qvCString& other) const { return Equals(other); }
    // ASCII A-Z only; bytes above 127 are left alone.
    void ToLower();
    void Clear();

  private:
    uint32_t length_ = 0;
    // Capacity of the heap block in characters (without the NUL), when not inline.
    uint32_t capacity_ = 0;
    union {
        char inline_[kInlineMax + 1] = {};
        char* heap_;
    };
};
