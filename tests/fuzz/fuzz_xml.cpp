// Fuzzes CXMLParserVelmora::ParseDocument and the lookups over the tree it
// builds, and checks the tree's invariants.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "util/XMLParserVelmora.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

void Walk(const CXMLParserVelmora& parser, const CXMLElement* e, int depth) {
    Check(depth <= CXMLParserVelmora::kMaxDepth + 1);
    Check(parser.GetChildCount(e) == static_cast<int>(e->Children().size()));
    for (const CXMLElement* child : e->Children()) {
        Check(child != nullptr);
        Check(child->Parent() == e);
        const std::string name = child->Name();
        // The first child of that name (any letter case) exists.
        Check(parser.FindChild(e, name.c_str()) != nullptr || name.find('\0') != std::string::npos);
        Walk(parser, child, depth + 1);
    }
    for (const CXMLAttribute& a : e->Attributes()) {
        Check(a.owner == e);
        char small[8];
        std::memset(small, 0x7F, sizeof small);
        const int n = parser.GetAttributeValue(e, a.Name().c_str(), small, 5);
        Check(n >= 0 && n <= 4 && small[n] == '\0' && small[5] == 0x7F);
        Check(parser.FindAttribute(e, a.Name().c_str()) != nullptr);
    }
    for (const auto* list : {&e->Texts(), &e->Comments(), &e->CData()})
        for (const CXMLNode& node : *list) {
            Check(node.owner == e);
            Check(node.position >= 0 && node.position <= static_cast<int>(e->Children().size()));
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CXMLParserVelmora parser;
    const CXMLDocument* doc = parser.ParseDocument(text);
    Check(doc != nullptr);
    Check(!doc->declaration.empty());
    if (const CXMLElement* root = parser.GetRoot()) {
        Check(root->Parent() == nullptr);
        Walk(parser, root, 0);
    }
    // Escaping, then unescaping, gives the text back when it holds no "&#"
    // (an ampersand before "#" is kept as the start of a character reference).
    if (text.find("&#") == std::string_view::npos) {
        const std::string escaped = CXMLParserVelmora::Escape(text);
        Check(CXMLParserVelmora::Escape(text, nullptr) == escaped.size());
        Check(CXMLParserVelmora::Unescape(escaped) == text);
    }
    CXMLParserVelmora::Unescape(text);
    // Parsing again over the same parser.
    parser.ParseDocument(text.substr(0, text.size() / 2));
    return 0;
}
