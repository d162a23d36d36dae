// Redirect targets made absolute against the URL that answered them: the
// reference resolution examples of RFC 3986 (section 5.4) on an http base,
// and the targets no session could ever open.
#include <gtest/gtest.h>

#include <string>

#include "ostra/norvikqos/http/ResolveLocation.h"

namespace {

constexpr const char* kBase = "http://a/b/c/d;p?q";

TEST(HttpResolveLocation, ReferencesOfRfc3986) {
    struct Case {
        const char* location;
        const char* expected;
    };
    const Case cases[] = {
        // Normal examples (5.4.1).
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g#s", "http://a/b/c/g"},
        {"g?y#s", "http://a/b/c/g?y"},
        {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"},
        {"g;x?y#s", "http://a/b/c/g;x?y"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../", "http://a/"},
        {"../../g", "http://a/g"},
        // Abnormal examples (5.4.2).
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g"},
        {"g#s/../x", "http://a/b/c/g"},
        // Absolute targets keep their own scheme, host and port; dot segments
        // go, the query stays as sent.
        {"https://cdn:8443/x/../y.zip?k=1#f", "https://cdn:8443/y.zip?k=1"},
        {"HTTP://Other/Z", "HTTP://Other/Z"},
        {"//mirror:81/p/./q", "http://mirror:81/p/q"},
        {"a/b:c", "http://a/b/c/a/b:c"},
    };
    for (const Case& c : cases) {
        std::string target = "untouched";
        EXPECT_EQ(ResolveLocation(kBase, c.location, target), qv::kLayerOk) << c.location;
        EXPECT_EQ(target, c.expected) << c.location;
    }
}

TEST(HttpResolveLocation, BasesWithoutPathPortOrQuery) {
    struct Case {
        const char* base;
        const char* location;
        const char* expected;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080", "f.bin", "http://127.0.0.1:8080/f.bin"},
        {"http://127.0.0.1:8080", "?v=2", "http://127.0.0.1:8080?v=2"},
        {"https://h:444/dir/", "../up.txt", "https://h:444/up.txt"},
        {"https://h/dir/file?x=1#top", "", nullptr},
        {"https://h/dir/file?x=1#top", "#other", "https://h/dir/file?x=1"},
        {"https://h/dir/file", "?", "https://h/dir/file?"},
        {"http://h/\xEA\xB2\x8C/a", "\xEC\x9E\x84.zip", "http://h/\xEA\xB2\x8C/\xEC\x9E\x84.zip"},
    };
    for (const Case& c : cases) {
        std::string target = "untouched";
        const qvResult result = ResolveLocation(c.base, c.location, target);
        if (c.expected) {
            EXPECT_EQ(result, qv::kLayerOk) << c.base << " + " << c.location;
            EXPECT_EQ(target, c.expected) << c.base << " + " << c.location;
        } else {
            EXPECT_EQ(result, qv::kLayerFail) << c.base << " + " << c.location;
            EXPECT_EQ(target, "untouched");
        }
    }
}

TEST(HttpResolveLocation, TargetsThatCannotBeOpenedAreRefused) {
    const char* const locations[] = {
        "",                     // no target at all
        "g:h",                  // another scheme (RFC 3986's first example)
        "ftp://a/file",         // another scheme with a host
        "http:g",               // a scheme without a host
        "http://",              // nothing after the scheme
        "//",                   // no host
        "http://:80/x",         // an empty host
        "http://a:0/x",         // a port out of range
        "http://a:99999/x",     // a port out of range
        "http://a:8o/x",        // a port that is no number
        "/x\r\nSet-Cookie: 1",  // a control character
        "mailto:x@y",
    };
    for (const char* location : locations) {
        std::string target = "untouched";
        EXPECT_EQ(ResolveLocation(kBase, location, target), qv::kLayerFail) << location;
        EXPECT_EQ(target, "untouched") << location;
    }
    // An embedded NUL is refused too, not cut short.
    std::string target = "untouched";
    EXPECT_EQ(ResolveLocation(kBase, std::string_view("/a\0b", 4), target), qv::kLayerFail);
    // A relative reference needs an absolute base.
    EXPECT_EQ(ResolveLocation("/relative/base", "g", target), qv::kLayerFail);
    EXPECT_EQ(ResolveLocation("", "g", target), qv::kLayerFail);
    EXPECT_EQ(target, "untouched");
}

}  // namespace

// A secure request never goes on in the clear, however the target is written;
// the other way round, and https to https elsewhere, are fine.
TEST(HttpResolveLocation, HttpsNeverRedirectsToHttp) {
    constexpr const char* kSecureBase = "https://a.example/b/c";
    for (const char* location :
         {"http://a.example/x", "HTTP://a.example/x", "http://b.example:443/"}) {
        std::string target = "untouched";
        EXPECT_EQ(ResolveLocation(kSecureBase, location, target), qv::kLayerFail) << location;
        EXPECT_EQ(target, "untouched");
    }
    const struct {
        const char* base;
        const char* location;
        const char* expected;
    } allowed[] = {
        {kSecureBase, "//b.example/x", "https://b.example/x"},
        {kSecureBase, "/x", "https://a.example/x"},
        {kSecureBase, "HTTPS://b.example/y", "HTTPS://b.example/y"},
        {"http://a.example/", "https://a.example/z", "https://a.example/z"},
        {"HTTPS://a.example/", "https://a.example/z", "https://a.example/z"},
    };
    for (const auto& c : allowed) {
        std::string target;
        EXPECT_EQ(ResolveLocation(c.base, c.location, target), qv::kLayerOk) << c.location;
        EXPECT_EQ(target, c.expected);
    }
}
