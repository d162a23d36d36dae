// The XML reader, its edge cases as tables, and the shape of the engine
// update manifest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/XMLParserVelmora.h"

namespace {

const std::string kDefaultDecl = std::string(CXMLParserVelmora::kDefaultDeclaration);
const std::string kBom = "\xEF\xBB\xBF";

// A compact picture of a tree: name{attr="v" ...}[children] with texts as 'x'.
std::string Shape(const CXMLElement* e) {
    if (!e)
        return "-";
    std::string out = e->Name();
    if (!e->Attributes().empty()) {
        out += "{";
        for (const auto& a : e->Attributes())
            out += a.Name() + "=" + a.Value() + ";";
        out += "}";
    }
    for (const auto& t : e->Texts())
        out += "'" + t.text + "'@" + std::to_string(t.position);
    if (!e->Children().empty()) {
        out += "[";
        for (const CXMLElement* c : e->Children())
            out += Shape(c) + ",";
        out += "]";
    }
    return out;
}

}  // namespace

TEST(XMLParserTest, Shapes) {
    const struct {
        const char* text;
        const char* shape;
    } cases[] = {
        // Without a declaration: the root is the element; its self-closing child carries the
        // attribute.
        {"<a><B x=\"1\"/></a>", "a[B{x=1;},]"},
        {"<a><b/><c></c><d><e/></d></a>", "a[b,c,d[e,],]"},
        // Text trimmed of spaces, tabs, line ends; position = children seen so far.
        {"<a>  hello \t\r\n</a>", "a'hello'@0"},
        {"<a><b/>  tail </a>", "a'tail'@1[b,]"},
        {"<a>one<b/>two<c></c>three</a>", "a'one'@0'two'@1'three'@2[b,c,]"},
        // Only double-quoted values; a single-quoted attribute with no double quote after it is
        // dropped.
        {"<a x=\"1\" y='2'/>", "a{x=1;}"},
        {"<a x=\"1\" y=\"2\" z=\"3\"/>", "a{x=1;y=2;z=3;}"},
        {"<a x=y\"/>", "a{x=y;}"},                      // a value without its opening quote
        {"<a x =\"1\"/>", "a{x =1;}"},                  // the name is untrimmed
        {"<a\n  x=\"1\"\n  y=\"2\"/>", "a{x=1;y=2;}"},  // attributes on lines of their own
        {"<a x/>", "a"},                                // no "=": attributes end
        {"<a x=\"1/>", "a"},                            // no closing quote: attributes end
        // A root without a closing tag: no root.
        {"<a><b/>", "-"},
        {"<a><b></a>", "-"},  // only the nesting is counted: <a> is unmatched
        {"<a><b/><c><d/></a>", "-"},
        // Deeper down, an unmatched opening tag ends its level; the elements complete
        // before it keep their places (<c/d> opens in the parse but counts as
        // self-closing in the closing-tag search, so it never finds its match).
        {"<a><b/><c/d><e/></c/d></a>", "a[b,]"},
        // No element at all: the default root.
        {"just text", "root"},
        {"<?xml version=\"1.0\"?>  ", "root"},
        // Closing tags are not compared with opening tags, only counted.
        {"<a><b></x></y>", "a[b,]"},
        // A self-closing root.
        {"<a x=\"v\"/>", "a{x=v;}"},
        // Two top-level elements: the last opening one is current.
        {"<a></a><b></b>", "b"},
        // Comments, PIs and CDATA do not change the nesting.
        {"<?xml?><a><!-- <b --><![CDATA[<c>]]><?pi <d?><e/></a>", "a[e,]"},
        // A ">" inside a comment ends it; the rest is text.
        {"<?xml?><a><!-- <b> --><e/></a>", "a'-->'@0[e,]"},
        // A "/" inside double quotes does not end a tag in the closing-tag search.
        {"<a><b u=\"http://x/y\"></b></a>", "a[b{u=http://x/y;},]"},
        // An unquoted "/" does: <b/c> counts as self-closing there but opens in the parse.
        {"<a><b k=v/></a>", "a[b,]"},
    };
    for (const auto& c : cases) {
        CXMLParserVelmora parser;
        parser.ParseDocument(c.text);
        EXPECT_EQ(Shape(parser.GetRoot()), c.shape) << c.text;
    }
}

TEST(XMLParserTest, EmptyInputDefaults) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        CXMLParserVelmora parser;
        const CXMLDocument* doc = parser.ParseDocument(text);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(doc->declaration, kDefaultDecl);
        ASSERT_NE(parser.GetRoot(), nullptr);
        EXPECT_EQ(parser.GetRoot()->Name(), "root");
        EXPECT_EQ(parser.GetChildCount(parser.GetRoot()), 0);
    }
    CXMLParserVelmora unparsed;
    EXPECT_EQ(unparsed.GetRoot(), nullptr);
}

TEST(XMLParserTest, Declaration) {
    const struct {
        const char* text;
        std::string declaration;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"euc-kr\"?><a/>",
         "<?xml version=\"1.0\" encoding=\"euc-kr\"?>"},
        {"<a/>", kBom + kDefaultDecl},  // none in the text: the default after a byte order mark
        {"junk?>\n<a/>", "junk?>"},     // everything up to the first "?>"
    };
    for (const auto& c : cases) {
        CXMLParserVelmora parser;
        EXPECT_EQ(parser.ParseDocument(c.text)->declaration, c.declaration) << c.text;
        ASSERT_NE(parser.GetRoot(), nullptr) << c.text;
        EXPECT_EQ(parser.GetRoot()->Name(), "a");
    }
}

TEST(XMLParserTest, CommentsAndCData) {
    CXMLParserVelmora parser;
    const CXMLDocument* doc = parser.ParseDocument(
        "<?xml version=\"1.0\"?><!-- before --><a><!-- in a --><b/><![CDATA[x > y <z>]]>"
        "<!-- c > d --></a><!-- after -->");
    const CXMLElement* a = parser.GetRoot();
    ASSERT_NE(a, nullptr);
    // A ">" inside CDATA does not end the section.
    ASSERT_EQ(a->CData().size(), 1u);
    EXPECT_EQ(a->CData()[0].text, "x > y <z>");
    EXPECT_EQ(a->CData()[0].position, 1);
    EXPECT_EQ(a->CData()[0].owner, a);
    // A ">" inside a comment ends the comment: its text runs from 4 after the "<" to
    // 2 before that ">", and " d -->" is text.
    ASSERT_EQ(a->Comments().size(), 2u);
    EXPECT_EQ(a->Comments()[0].text, " in a ");
    EXPECT_EQ(a->Comments()[0].position, 0);
    EXPECT_EQ(a->Comments()[1].text, " ");
    ASSERT_EQ(a->Texts().size(), 1u);
    EXPECT_EQ(a->Texts()[0].text, "d -->");
    // The declaration's nodes: position 0 before the first element, 1 after.
    ASSERT_EQ(doc->nodes.size(), 2u);
    EXPECT_EQ(doc->nodes[0].text, " before ");
    EXPECT_EQ(doc->nodes[0].position, 0);
    EXPECT_EQ(doc->nodes[0].owner, nullptr);
    EXPECT_EQ(doc->nodes[1].text, " after ");
    EXPECT_EQ(doc->nodes[1].position, 1);
}

TEST(XMLParserTest, FindChildIgnoresCase) {
    CXMLParserVelmora parser;
    parser.ParseDocument("<Root><First/><vrDownload.exe ver=\"1\"/><first n=\"2\"/></Root>");
    const CXMLElement* root = parser.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(parser.GetChildCount(root), 3);
    const CXMLElement* f = parser.FindChild(root, "FIRST");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Name(), "First");  // the first of the two
    EXPECT_NE(parser.FindChild(root, "VRDOWNLOAD.EXE"), nullptr);
    EXPECT_EQ(parser.FindChild(root, "missing"), nullptr);
    EXPECT_EQ(parser.FindChild(nullptr, "first"), nullptr);
    EXPECT_EQ(parser.FindChild(root, nullptr), nullptr);
    EXPECT_EQ(parser.GetChildCount(nullptr), 0);
    EXPECT_EQ(f->Parent(), root);
}

TEST(XMLParserTest, AttributeLookup) {
    CXMLParserVelmora parser;
    parser.ParseDocument("<a><b Ver=\"x\" ver=\"1&amp;2\" e=\"\"/></a>");
    const CXMLElement* b = parser.FindChild(parser.GetRoot(), "b");
    ASSERT_NE(b, nullptr);
    char buf[256];
    // Attribute names are case-sensitive.
    EXPECT_EQ(parser.GetAttributeValue(b, "ver", buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "1&2");  // three characters, a plain ampersand in the middle
    EXPECT_EQ(parser.GetAttributeValue(b, "Ver", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(parser.GetAttributeValue(b, "VER", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(parser.GetAttributeValue(b, "e", buf, sizeof buf), 0);
    EXPECT_NE(parser.FindAttribute(b, "e"), nullptr);
    EXPECT_EQ(parser.FindAttribute(b, "VER"), nullptr);
    EXPECT_EQ(parser.FindAttribute(nullptr, "ver"), nullptr);
    EXPECT_EQ(parser.FindAttribute(b, nullptr), nullptr);
    EXPECT_EQ(parser.GetAttributeValue(nullptr, "ver", buf, sizeof buf), 0);
    EXPECT_EQ(parser.GetAttributeValue(b, "ver"), "1&2");
    EXPECT_EQ(parser.FindAttribute(b, "ver")->owner, b);
}

TEST(XMLParserTest, LongValuesAreCutNeverOverrun) {
    const std::string longValue(1000, 'v');
    CXMLParserVelmora parser;
    parser.ParseDocument(
        ("<a v=\"" + longValue + "\" k=\"" + std::string(300, 'x') + "\"/>").c_str());
    char buf[256 + 16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(parser.GetAttributeValue(parser.GetRoot(), "v", buf, 256), 255);
    EXPECT_EQ(std::string(buf), std::string(255, 'v'));
    EXPECT_EQ(buf[256], '#');  // nothing written past the buffer
    char small[128];
    EXPECT_EQ(parser.GetAttributeValue(parser.GetRoot(), "k", small, sizeof small), 127);
    EXPECT_EQ(std::strlen(small), 127u);
    // A cut never splits a UTF-8 character: "가" is 3 bytes.
    std::string korean;
    for (int i = 0; i < 100; ++i)
        korean += "가";
    parser.ParseDocument(("<a v=\"" + korean + "\"/>").c_str());
    EXPECT_EQ(parser.GetAttributeValue(parser.GetRoot(), "v", small, sizeof small), 126);
    EXPECT_EQ(std::string(small), korean.substr(0, 126));
    // Long element names are found in full.
    const std::string name(300, 'n');
    parser.ParseDocument(("<a><" + name + "/></a>").c_str());
    EXPECT_NE(parser.FindChild(parser.GetRoot(), name.c_str()), nullptr);
    EXPECT_EQ(parser.FindChild(parser.GetRoot(), name.substr(0, 127).c_str()), nullptr);
}

TEST(XMLParserTest, Escape) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain", "plain"},
        {"a&b", "a&amp;b"},
        {"a&#65;", "a&#65;"},  // an ampersand before "#" stays
        {"<>\"'", "&lt;&gt;&quot;&apos;"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CXMLParserVelmora::Escape(c.in), c.out) << c.in;
        EXPECT_EQ(CXMLParserVelmora::Escape(c.in, nullptr), std::strlen(c.out)) << c.in;
    }
}

TEST(XMLParserTest, Unescape) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"a&amp;b", "a&b"},
        {"&quot;&apos;&lt;&gt;", "\"'<>"},
        {"&amp;amp;", "&amp;"},  // one level only
        {"a&b", "a&b"},          // an ampersand that starts nothing is copied
        {"&unknown;", "&unknown;"},
        {"&", "&"},
        {"&#;", "&#;"},  // no digits: no reference
        {"&#x;", "&#x;"},
        // Character references become UTF-8 when the code point is valid.
        {"&#65;", "A"},
        {"&#x41;", "A"},
        {"&#X41;", "A"},
        {"&#xac00;", "\xEA\xB0\x80"},  // 가
        {"&#44032;", "\xEA\xB0\x80"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&#233;", "\xC3\xA9"},
        // The one character after the digits is consumed, whatever it is.
        {"&#65x", "A"},
        {"&#65", "A"},
        {"&#65;B", "AB"},
        // Invalid code points are dropped: 0, surrogates, beyond U+10FFFF.
        {"a&#0;b", "ab"},
        {"a&#xD800;b", "ab"},
        {"a&#x110000;b", "ab"},
        // Up to 10 digits are held; longer references are dropped.
        {"a&#0000000065;b", "aAb"},  // 10 digits
        {"a&#00000000065;b", "ab"},  // 11 digits
        {"a&#x00000000041;b", "ab"},
        {"a&#99999999999999999999999;b", "ab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CXMLParserVelmora::Unescape(c.in), c.out) << c.in;
}

TEST(XMLParserTest, ElementNamesStoredEscaped) {
    CXMLParserVelmora parser;
    parser.ParseDocument("<a><b&c x=\"1\"/><d'e/></a>");
    const CXMLElement* root = parser.GetRoot();
    ASSERT_EQ(parser.GetChildCount(root), 2);
    EXPECT_EQ(root->Children()[0]->EscapedName(), "b&amp;c");
    EXPECT_EQ(root->Children()[0]->Name(), "b&c");
    EXPECT_EQ(root->Children()[1]->EscapedName(), "d&apos;e");
    EXPECT_NE(parser.FindChild(root, "B&C"), nullptr);
}

TEST(XMLParserTest, ParsingAgainDiscardsThePreviousDocument) {
    CXMLParserVelmora parser;
    parser.ParseDocument("<a><b/></a>");
    EXPECT_EQ(parser.GetRoot()->Name(), "a");
    parser.ParseDocument("<x/>");
    EXPECT_EQ(parser.GetRoot()->Name(), "x");
    EXPECT_EQ(parser.GetChildCount(parser.GetRoot()), 0);
}

TEST(XMLParserTest, DeepNestingIsBounded) {
    std::string text;
    const int depth = 5000;
    for (int i = 0; i < depth; ++i)
        text += "<e>";
    for (int i = 0; i < depth; ++i)
        text += "</e>";
    CXMLParserVelmora parser;
    parser.ParseDocument(text.c_str());
    const CXMLElement* e = parser.GetRoot();
    int levels = 0;
    while (e) {
        ++levels;
        e = e->Children().empty() ? nullptr : e->Children()[0];
    }
    EXPECT_EQ(levels, CXMLParserVelmora::kMaxDepth + 1);
}

// The engine update manifest, as the engine updater reads it.
TEST(XMLParserTest, UpdateManifest) {
    const char* manifest =
        "<?xml version=\"1.0\" encoding=\"euc-kr\" ?>\r\n"
        "<QGM_updater>\r\n"
        "  <file>\r\n"
        "    <vrDownload.exe ver=\"3.5.0.2\" "
        "url=\"http://upd.example.com/ActiveX/update/vrDownload.zip\" "
        "hash=\"http://upd.example.com/ActiveX/update/vrDownload.zip.md4\" />\r\n"
        "    <vrEngine.dll ver=\"1.0.0.7\" "
        "url=\"http://upd.example.com/ActiveX/update/vrEngine.7z\" "
        "hash=\"http://upd.example.com/ActiveX/update/vrEngine.7z.md4\" />\r\n"
        "  </file>\r\n"
        "  <all>\r\n"
        "    <all url=\"http://upd.example.com/ActiveX/update/all.7z?a=1&amp;b=2\" "
        "hash=\"http://upd.example.com/ActiveX/update/all.7z.md4\" />\r\n"
        "  </all>\r\n"
        "</QGM_updater>\r\n";
    CXMLParserVelmora parser;
    parser.ParseDocument(manifest);
    const CXMLElement* root = parser.GetRoot();
    ASSERT_NE(root, nullptr);
    const CXMLElement* file = parser.FindChild(root, "file");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(parser.GetChildCount(file), 2);  // the number of listed files

    const CXMLElement* engine = parser.FindChild(file, "vrDownload.exe");
    ASSERT_NE(engine, nullptr);
    char version[CXMLParserVelmora::kVersionBufferSize];
    char url[CXMLParserVelmora::kValueBufferSize];
    char hash[CXMLParserVelmora::kValueBufferSize];
    EXPECT_GT(parser.GetAttributeValue(engine, "ver", version, sizeof version), 0);
    EXPECT_STREQ(version, "3.5.0.2");
    parser.GetAttributeValue(engine, "url", url, sizeof url);
    EXPECT_STREQ(url, "http://upd.example.com/ActiveX/update/vrDownload.zip");
    parser.GetAttributeValue(engine, "hash", hash, sizeof hash);
    EXPECT_STREQ(hash, "http://upd.example.com/ActiveX/update/vrDownload.zip.md4");
    EXPECT_NE(parser.FindChild(file, "VRENGINE.DLL"), nullptr);

    const CXMLElement* all = parser.FindChild(parser.FindChild(root, "ALL"), "all");
    ASSERT_NE(all, nullptr);
    parser.GetAttributeValue(all, "url", url, sizeof url);
    EXPECT_STREQ(url, "http://upd.example.com/ActiveX/update/all.7z?a=1&b=2");
    parser.GetAttributeValue(all, "hash", hash, sizeof hash);
    EXPECT_STREQ(hash, "http://upd.example.com/ActiveX/update/all.7z.md4");

    // A manifest whose "file" lists only the engine.
    parser.ParseDocument(
        "<u><file><vrDownload.exe ver=\"2\" url=\"u1\" hash=\"h1\"/></file><all><all url=\"u2\" "
        "hash=\"h2\"/></all></u>");
    file = parser.FindChild(parser.GetRoot(), "file");
    EXPECT_EQ(parser.GetChildCount(file), 1);
    EXPECT_EQ(parser.GetAttributeValue(parser.FindChild(file, "vrdownload.exe"), "ver"), "2");
    EXPECT_EQ(parser.GetAttributeValue(
                  parser.FindChild(parser.FindChild(parser.GetRoot(), "all"), "all"), "url"),
              "u2");
}
