#pragma once

// The XML reader. CXMLParserVelmora reads a small XML document held in
// memory (the engine update manifest) into a tree of elements and answers
// four lookups. It only reads, parses a practical subset of XML in 8-bit text
// (no validation, namespaces, DTD or encoding conversion) and never fails
// outright: defects leave a partial or default tree. Not thread-safe; each user
// makes its own parser, parses once and reads the tree.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CXMLElement;

// A text, comment (or processing instruction) or CDATA node: its text as
// written, its owner element (none for the declaration's nodes) and its
// position, the number of child elements the owner had when the node was met
// (for the declaration's nodes: 0 before the first top-level element, 1 after).
struct CXMLNode {
    std::string text;
    const CXMLElement* owner = nullptr;
    int position = 0;
};

// An attribute exactly as it stands in the tag (unescaped when read out).
struct CXMLAttribute {
    std::string name;
    std::string value;
    const CXMLElement* owner = nullptr;

    std::string Name() const;   // unescaped
    std::string Value() const;  // unescaped
};

class CXMLElement {
  public:
    // The name as stored (escaped) and as handed out (unescaped).
    const std::string& EscapedName() const { return name_; }
    std::string Name() const;

    const CXMLElement* Parent() const { return parent_; }
    const std::vector<CXMLElement*>& Children() const { return children_; }
    const std::vector<CXMLAttribute>& Attributes() const { return attributes_; }
    const std::vector<CXMLNode>& Texts() const { return texts_; }
    const std::vector<CXMLNode>& Comments() const { return comments_; }
    const std::vector<CXMLNode>& CData() const { return cdata_; }

  private:
    friend class CXMLParserVelmora;
    std::string name_;
    CXMLElement* parent_ = nullptr;
    std::vector<CXMLElement*> children_;  // owned by the document's arena
    std::vector<CXMLAttribute> attributes_;
    std::vector<CXMLNode> texts_;
    std::vector<CXMLNode> comments_;
    std::vector<CXMLNode> cdata_;
};

struct CXMLDocument {
    // The whole "<?" ... "?>" tag, or the default declaration.
    std::string declaration;
    // Comments and processing instructions outside the root element.
    std::vector<CXMLNode> nodes;
    const CXMLElement* root = nullptr;
};

class CXMLParserVelmora {
  public:
    // Buffer sizes of the callers: element names (FindChild), attribute
    // names (FindAttribute) and attribute values (GetAttributeValue; 128 bytes
    // for a version value).
    static constexpr std::size_t kNameBufferSize = 128;
    static constexpr std::size_t kAttributeNameBufferSize = 256;
    static constexpr std::size_t kValueBufferSize = 256;
    static constexpr std::size_t kVersionBufferSize = 128;

    // The declaration used when the text has none.
    static constexpr std::string_view kDefaultDeclaration =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";
    // Element levels deeper than this are made but their content is not parsed
    // (a bound on the recursion for hostile input).
    static constexpr int kMaxDepth = 256;

    CXMLParserVelmora() = default;
    CXMLParserVelmora(const CXMLParserVelmora&) = delete;
    CXMLParserVelmora& operator=(const CXMLParserVelmora&) = delete;

    // Discards the previous document and parses text (nullptr or "" give the
    // default document). Never fails; the returned document lives until the
    // next parse or the parser's destruction.
    const CXMLDocument* ParseDocument(const char* text);
    const CXMLDocument* ParseDocument(std::string_view text);

    // The root element, or none when nothing has been parsed (or the root's
    // closing tag could not be matched).
    const CXMLElement* GetRoot() const;
    // First child whose unescaped name equals name without regard to (ASCII)
    // letter case; none when absent or an argument is missing.
    const CXMLElement* FindChild(const CXMLElement* element, const char* name) const;
    // Number of children; 0 for a missing element.
    int GetChildCount(const CXMLElement* element) const;
    // First attribute whose unescaped name equals name exactly.
    const CXMLAttribute* FindAttribute(const CXMLElement* element, const char* name) const;
    // Writes the attribute's unescaped value, cut to bufferSize - 1 bytes (at a
    // character boundary when the text is UTF-8) and NUL-terminated, into
    // buffer; returns the number of bytes written before the NUL, 0 when the
    // attribute does not exist (the buffer then holds "").
    int GetAttributeValue(const CXMLElement* element, const char* name, char* buffer,
                          std::size_t bufferSize = kValueBufferSize) const;
    // The same, uncut.
    std::string GetAttributeValue(const CXMLElement* element, const char* name) const;

    // Text escaping (used for element names when they are stored).
    // With no output buffer (nullptr) returns the escaped length; otherwise
    // writes the escaped text (no NUL) and returns its length.
    static std::size_t Escape(std::string_view in, char* out);
    static std::string Escape(std::string_view in);
    // Unescaping: the five entities; character references become the
    // referenced character as UTF-8 when it is a valid code point and are
    // dropped otherwise (also when they have more than 10 digits).
    static std::string Unescape(std::string_view in);

  private:
    using Range = std::string_view;

    CXMLElement* NewElement();
    CXMLElement* MakeElement(Range tag, CXMLElement* parent);
    // Parses [text) with a parent (or none); returns its current element.
    CXMLElement* ParseElements(Range text, CXMLElement* parent, int depth);
    void AddText(Range text, CXMLElement* parent);
    void AddComment(Range text, CXMLElement* parent, const CXMLElement* current);
    void AddCData(Range text, CXMLElement* parent);

    std::unique_ptr<CXMLDocument> document_;
    std::vector<std::unique_ptr<CXMLElement>> arena_;  // every element made
};
