#include "util/XMLParserVelmora.h"

#include <cstdint>
#include <cstring>

#include "util/HexText.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The lists grow in fixed steps.
template <class T>
void Push(std::vector<T>& list, T item, std::size_t first, std::size_t step) {
    if (list.size() == list.capacity())
        list.reserve(list.empty() ? first : list.capacity() + step);
    list.push_back(std::move(item));
}

bool StartsWith(std::string_view text, std::size_t at, std::string_view prefix) {
    return at <= text.size() && text.substr(at).substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of text cut to at most limit bytes without splitting a UTF-8
// sequence (a cut inside a multibyte character drops the whole character).
std::size_t CutLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return text.size();
    std::size_t n = limit;
    // Back off over continuation bytes to the start of the character at n.
    std::size_t back = 0;
    while (n > 0 && back < 3 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
        ++back;
    }
    if ((static_cast<unsigned char>(text[n]) & 0xC0) != 0x80)
        return n;
    return limit;  // not UTF-8: a plain byte cut
}

// Matching-closing-tag search, from the opening tag at lt; returns
// the position of the "<" of the matching closing tag, or npos.
std::size_t FindMatchingClose(std::string_view text, std::size_t lt) {
    int depth = 0;
    std::size_t pos = lt;
    for (;;) {
        const std::size_t p = text.find('<', pos);
        if (p == npos)
            return npos;
        if (StartsWith(text, p, "</")) {
            const std::size_t gt = text.find('>', p);
            if (gt == npos)
                return npos;
            if (--depth == 0)
                return p;
            pos = gt + 1;
            continue;
        }
        if (StartsWith(text, p, "<![CDATA[")) {
            const std::size_t e = text.find("]]>", p);
            if (e == npos)
                return npos;
            pos = e + 3;
            continue;
        }
        const bool comment = StartsWith(text, p, "<!--") || StartsWith(text, p, "<?");
        bool quoted = false;
        bool slash = false;
        std::size_t q = p + 1;
        for (; q < text.size(); ++q) {
            const char c = text[q];
            if (c == '>')
                break;
            if (c == '"') {
                quoted = !quoted;
            } else if (c == '/' && !quoted && !comment) {
                slash = true;
                break;
            }
        }
        if (q >= text.size())
            return npos;
        if (!slash && !comment)
            ++depth;
        pos = q + 1;
    }
}

}  // namespace

std::string CXMLAttribute::Name() const {
    return CXMLParserVelmora::Unescape(name);
}
std::string CXMLAttribute::Value() const {
    return CXMLParserVelmora::Unescape(value);
}
std::string CXMLElement::Name() const {
    return CXMLParserVelmora::Unescape(name_);
}

std::size_t CXMLParserVelmora::Escape(std::string_view in, char* out) {
    std::size_t n = 0;
    auto put = [&](std::string_view s) {
        if (out)
            std::memcpy(out + n, s.data(), s.size());
        n += s.size();
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        switch (c) {
            case '&':
                put(i + 1 < in.size() && in[i + 1] == '#' ? std::string_view("&") : "&amp;");
                break;
            case '<':
                put("&lt;");
                break;
            case '>':
                put("&gt;");
                break;
            case '"':
                put("&quot;");
                break;
            case '\'':
                put("&apos;");
                break;
            default:
                put(std::string_view(&in[i], 1));
                break;
        }
    }
    return n;
}

std::string CXMLParserVelmora::Escape(std::string_view in) {
    std::string out(Escape(in, nullptr), '\0');
    Escape(in, out.data());
    return out;
}

std::string CXMLParserVelmora::Unescape(std::string_view in) {
    static constexpr struct {
        std::string_view entity;
        char c;
    } kEntities[] = {
        {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}};
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        if (in[i] != '&') {
            out += in[i++];
            continue;
        }
        bool done = false;
        for (const auto& e : kEntities) {
            if (StartsWith(in, i, e.entity)) {
                out += e.c;
                i += e.entity.size();
                done = true;
                break;
            }
        }
        if (done)
            continue;
        if (StartsWith(in, i, "&#")) {
            std::size_t j = i + 2;
            const bool hex = j < in.size() && (in[j] == 'x' || in[j] == 'X');
            if (hex)
                ++j;
            const std::size_t first = j;
            while (j < in.size() && (hex ? HexDigitValue(in[j]) >= 0 : (in[j] >= '0' && in[j] <= '9')))
                ++j;
            const std::size_t digits = j - first;
            if (digits > 0) {
                // Consumed up to and including the one character after the digits.
                const std::size_t end = j < in.size() ? j + 1 : j;
                if (digits <= 10) {
                    uint64_t value = 0;
                    for (std::size_t k = first; k < j; ++k)
                        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(HexDigitValue(in[k]));
                    if (value >= 1 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF))
                        AppendUtf8(out, static_cast<uint32_t>(value));
                }
                i = end;
                continue;
            }
        }
        out += in[i++];  // an ampersand that starts nothing is copied
    }
    return out;
}

CXMLElement* CXMLParserVelmora::NewElement() {
    arena_.push_back(std::make_unique<CXMLElement>());
    return arena_.back().get();
}

CXMLElement* CXMLParserVelmora::MakeElement(Range tag, CXMLElement* parent) {
    CXMLElement* element = NewElement();
    element->parent_ = parent;
    std::size_t i = 0;
    while (i < tag.size() && tag[i] == '<')
        ++i;
    const std::size_t nameStart = i;
    // The name also ends at a line end (an addition: attributes may follow on
    // the next line).
    while (i < tag.size() && tag[i] != ' ' && tag[i] != '\t' && tag[i] != '\r' && tag[i] != '\n' &&
           tag[i] != '/' && tag[i] != '>' && tag[i] != '"')
        ++i;
    element->name_ = Escape(tag.substr(nameStart, i - nameStart));
    for (;;) {
        // Line ends count as blanks too, so that attributes may stand on
        // lines of their own.
        while (i < tag.size() &&
               (tag[i] == ' ' || tag[i] == '\t' || tag[i] == '\r' || tag[i] == '\n'))
            ++i;
        if (i >= tag.size() || tag[i] == '>' || tag[i] == '/')
            break;
        const std::size_t eq = tag.find('=', i);
        if (eq == npos)
            break;
        std::size_t v = eq + 1;
        if (v < tag.size() && tag[v] == '"')
            ++v;
        const std::size_t q = tag.find('"', v);
        if (q == npos)
            break;
        Push(element->attributes_,
             CXMLAttribute{std::string(tag.substr(i, eq - i)), std::string(tag.substr(v, q - v)),
                           element},
             20, 20);
        i = q + 1;
    }
    return element;
}

void CXMLParserVelmora::AddText(Range text, CXMLElement* parent) {
    if (!parent)
        return;  // text outside the root element is dropped
    const Range trimmed = Trim(text);
    if (trimmed.empty())
        return;
    Push(parent->texts_,
         CXMLNode{std::string(trimmed), parent, static_cast<int>(parent->children_.size())}, 4, 4);
}

void CXMLParserVelmora::AddComment(Range text, CXMLElement* parent, const CXMLElement* current) {
    if (parent) {
        Push(parent->comments_,
             CXMLNode{std::string(text), parent, static_cast<int>(parent->children_.size())}, 10,
             10);
    } else {
        Push(document_->nodes, CXMLNode{std::string(text), nullptr, current ? 1 : 0}, 5, 10);
    }
}

void CXMLParserVelmora::AddCData(Range text, CXMLElement* parent) {
    if (!parent)
        return;  // a CDATA section outside the root element is dropped
    Push(parent->cdata_,
         CXMLNode{std::string(text), parent, static_cast<int>(parent->children_.size())}, 10, 10);
}

CXMLElement* CXMLParserVelmora::ParseElements(Range text, CXMLElement* parent, int depth) {
    CXMLElement* current = nullptr;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t lt = text.find('<', pos);
        if (lt == npos) {
            AddText(text.substr(pos), parent);
            return current;
        }
        AddText(text.substr(pos, lt - pos), parent);

        std::size_t gt;  // the tag's last character
        if (StartsWith(text, lt, "<![CDATA")) {
            const std::size_t e = text.find("]]>", lt);
            if (e == npos)
                return current;
            gt = e + 2;
        } else {
            gt = text.find('>', lt);
            if (gt == npos)
                return current;
        }
        const Range tag = text.substr(lt, gt + 1 - lt);
        std::size_t next = gt + 1;

        if (StartsWith(text, lt, "<!--") || StartsWith(text, lt, "<?")) {
            const std::size_t from = lt + 4;
            const std::size_t to = gt >= 2 ? gt - 2 : 0;
            AddComment(from < to ? text.substr(from, to - from) : Range(), parent, current);
        } else if (StartsWith(text, lt, "<![CDATA[")) {
            const std::size_t from = lt + 9;
            const std::size_t to = gt - 2;  // the "]]>"
            AddCData(text.substr(from, to - from), parent);
        } else if (gt > lt && text[gt - 1] == '/') {
            CXMLElement* element = MakeElement(tag, parent);
            if (parent)
                Push(parent->children_, element, 20, 20);
            if (!current)
                current = element;
        } else if (!StartsWith(text, lt, "</")) {
            const std::size_t close = FindMatchingClose(text, lt);
            if (close == npos)
                return current;
            CXMLElement* element = MakeElement(tag, parent);
            current = element;
            if (close > gt && depth < kMaxDepth)
                ParseElements(text.substr(gt + 1, close - gt - 1), element, depth + 1);
            if (close == lt)
                return current;
            next = close;
        } else if (parent && current) {
            bool present = false;
            for (const CXMLElement* child : parent->children_)
                present = present || child == current;
            if (!present)
                Push(parent->children_, current, 20, 20);
        }
        pos = next;
    }
}

const CXMLDocument* CXMLParserVelmora::ParseDocument(const char* text) {
    return ParseDocument(text ? std::string_view(text) : std::string_view());
}

const CXMLDocument* CXMLParserVelmora::ParseDocument(std::string_view text) {
    // The text is read as a C string: it ends at its first NUL.
    const std::size_t nul = text.find('\0');
    if (nul != npos)
        text = text.substr(0, nul);

    document_ = std::make_unique<CXMLDocument>();
    arena_.clear();

    auto defaultRoot = [this] {
        CXMLElement* root = NewElement();
        root->name_ = "root";
        return root;
    };
    if (text.empty()) {
        document_->declaration = kDefaultDeclaration;
        document_->root = defaultRoot();
        return document_.get();
    }
    std::size_t start = 0;
    const std::size_t d = text.find("?>");
    if (d != npos) {
        document_->declaration = text.substr(0, d + 2);
        start = d + 2;
    } else {
        document_->declaration = "\xEF\xBB\xBF";
        document_->declaration += kDefaultDeclaration;
    }
    const Range body = text.substr(start);
    const std::size_t lt = body.find('<');
    document_->root = lt == npos ? defaultRoot() : ParseElements(body.substr(lt), nullptr, 0);
    return document_.get();
}

const CXMLElement* CXMLParserVelmora::GetRoot() const {
    return document_ ? document_->root : nullptr;
}

const CXMLElement* CXMLParserVelmora::FindChild(const CXMLElement* element,
                                                const char* name) const {
    if (!element || !name)
        return nullptr;
    const std::string wanted = AsciiLower(name);
    for (const CXMLElement* child : element->children_)
        if (AsciiLower(child->Name()) == wanted)
            return child;
    return nullptr;
}

int CXMLParserVelmora::GetChildCount(const CXMLElement* element) const {
    return element ? static_cast<int>(element->children_.size()) : 0;
}

const CXMLAttribute* CXMLParserVelmora::FindAttribute(const CXMLElement* element,
                                                      const char* name) const {
    if (!element || !name)
        return nullptr;
    for (const CXMLAttribute& attribute : element->attributes_)
        if (attribute.Name() == name)
            return &attribute;
    return nullptr;
}

int CXMLParserVelmora::GetAttributeValue(const CXMLElement* element, const char* name, char* buffer,
                                         std::size_t bufferSize) const {
    if (!buffer || bufferSize == 0)
        return 0;
    buffer[0] = '\0';
    const CXMLAttribute* attribute = FindAttribute(element, name);
    if (!attribute)
        return 0;
    const std::string value = attribute->Value();
    const std::size_t n = CutLength(value, bufferSize - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

std::string CXMLParserVelmora::GetAttributeValue(const CXMLElement* element,
                                                 const char* name) const {
    const CXMLAttribute* attribute = FindAttribute(element, name);
    return attribute ? attribute->Value() : std::string();
}
