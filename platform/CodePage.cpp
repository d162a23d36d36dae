#include "platform/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>

namespace platform {
namespace {

bool IsUtf8(const char* codeset) {
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// Codesets whose text needs no conversion to or from UTF-8.
bool IsIdentity(const char* codeset) {
    return IsUtf8(codeset) || strcasecmp(codeset, "ANSI_X3.4-1968") == 0 ||
           strcasecmp(codeset, "ASCII") == 0 || strcasecmp(codeset, "US-ASCII") == 0;
}

// Bytes of the UTF-8 character at the front of text, so that a character the
// target cannot show is replaced once; 1 for a byte that starts no character.
size_t Utf8CharLength(const unsigned char* text, size_t left) {
    const unsigned char lead = text[0];
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length > left)
        return 1;
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80)
            return 1;
    }
    return length;
}

class Converter {
  public:
    Converter(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // In iconv's terms: converts, or with a null in returns to the initial shift state.
    size_t operator()(char** in, size_t* inLeft, char** out, size_t* outLeft) const {
        return iconv(cd_, in, inLeft, out, outLeft);
    }

  private:
    iconv_t cd_;
};

// An output buffer that grows under iconv's output pointer.
class Output {
  public:
    explicit Output(std::string& text, size_t reserve) : text_(text) { text_.resize(reserve); }
    char** Cursor() {
        cursor_ = text_.data() + used_;
        return &cursor_;
    }
    size_t* Left() {
        left_ = text_.size() - used_;
        return &left_;
    }
    // After an iconv call on Cursor() and Left().
    void Commit() { used_ = static_cast<size_t>(cursor_ - text_.data()); }
    void Grow() { text_.resize(text_.size() * 2 + 16); }
    void Append(std::string_view bytes) {
        text_.resize(used_);
        text_.append(bytes);
        used_ = text_.size();
    }
    void Finish() { text_.resize(used_); }

  private:
    std::string& text_;
    size_t used_ = 0;
    char* cursor_ = nullptr;
    size_t left_ = 0;
};

}  // namespace

std::string NarrowCodeset() {
    return nl_langinfo(CODESET);
}

bool ConvertCodeset(std::string_view text, const char* from, const char* to, std::string& out) {
    const Converter convert(from, to);
    if (!convert.Valid()) {
        out.assign(text);
        return false;
    }
    const std::string_view replacement = IsUtf8(to) ? "\xEF\xBF\xBD" : "?";
    const bool fromUtf8 = IsUtf8(from);

    Output output(out, text.size() + text.size() / 2 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char** cursor = output.Cursor();
        size_t* left = output.Left();
        const size_t done = convert(&in, &inLeft, cursor, left);
        output.Commit();
        if (done != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            output.Grow();
            continue;
        }
        // EILSEQ or EINVAL (a character cut off at the end): replace it, from
        // the initial shift state of the target, and go on after it.
        const bool cutOff = errno == EINVAL;
        while (convert(nullptr, nullptr, output.Cursor(), output.Left()) ==
                   static_cast<size_t>(-1) &&
               errno == E2BIG) {
            output.Commit();
            output.Grow();
        }
        output.Commit();
        output.Append(replacement);
        size_t skip = 1;
        if (cutOff)
            skip = inLeft;
        else if (fromUtf8)
            skip = Utf8CharLength(reinterpret_cast<const unsigned char*>(in), inLeft);
        in += skip;
        inLeft -= skip;
    }
    // Back to the initial shift state, for stateful targets.
    while (convert(nullptr, nullptr, output.Cursor(), output.Left()) == static_cast<size_t>(-1) &&
           errno == E2BIG) {
        output.Commit();
        output.Grow();
    }
    output.Commit();
    output.Finish();
    return true;
}

std::string NarrowToUtf8(std::string_view text) {
    const std::string codeset = NarrowCodeset();
    std::string out;
    if (IsIdentity(codeset.c_str()))
        out.assign(text);
    else
        ConvertCodeset(text, codeset.c_str(), "UTF-8", out);
    return out;
}

std::string Utf8ToNarrow(std::string_view text) {
    const std::string codeset = NarrowCodeset();
    std::string out;
    if (IsIdentity(codeset.c_str()))
        out.assign(text);
    else
        ConvertCodeset(text, "UTF-8", codeset.c_str(), out);
    return out;
}

}  // namespace platform
