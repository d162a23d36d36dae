// Splitting URLs into host, port, path and kind for the HTTP client layer.
#include <gtest/gtest.h>

#include "ostra/norvikqos/http/SplitUrl.h"

namespace {

TEST(HttpSplitUrl, AcceptedUrls) {
    struct Case {
        const char* url;
        const char* host;
        uint16_t port;
        const char* path;
        nwEUrlKind kind;
    };
    const Case cases[] = {
        {"HTTPS://Cdn.Example.COM:8443/a/b.zip", "Cdn.Example.COM", 8443, "/a/b.zip",
         nwEUrlKind::kSecure},
        {"http://host", "host", 80, "", nwEUrlKind::kPlain},
        {"http://host/", "host", 80, "/", nwEUrlKind::kPlain},
        {"https://host", "host", 443, "", nwEUrlKind::kSecure},
        {"http://host:81", "host", 81, "", nwEUrlKind::kPlain},
        {"HtTp://127.0.0.1:65535/Dir/File.TXT", "127.0.0.1", 65535, "/Dir/File.TXT",
         nwEUrlKind::kPlain},
        {"http://host/dir//sub dir/f.txt", "host", 80, "/dir//sub dir/f.txt", nwEUrlKind::kPlain},
        {"http://host/a:b/c", "host", 80, "/a:b/c", nwEUrlKind::kPlain},
        {"http://host?x=1", "host", 80, "?x=1", nwEUrlKind::kPlain},
        {"http://host/\xEA\xB2\x8C\xEC\x9E\x84.zip", "host", 80, "/\xEA\xB2\x8C\xEC\x9E\x84.zip",
         nwEUrlKind::kPlain},
    };
    for (const auto& c : cases) {
        nwSplitUrlParts parts;
        ASSERT_EQ(SplitUrl(c.url, parts), qv::kLayerOk) << c.url;
        EXPECT_STREQ(parts.host.CStr(), c.host) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
        EXPECT_STREQ(parts.path.CStr(), c.path) << c.url;
        EXPECT_EQ(parts.kind, c.kind) << c.url;
    }
}

TEST(HttpSplitUrl, RefusedUrlsLeaveThePartsAlone) {
    const char* const cases[] = {
        "",
        "ftp://host/file",
        "http:/host/file",
        "host/file",
        "http://",
        "https://",
        "http:///path",
        "http://:80/path",
        "http://host:/path",
        "http://host:0/",
        "http://host:65536/",
        "http://host:99999999999/",
        "http://host:-1/",
        "http://host:+81/",
        "http://host: 81/",
        "http://host:81x/",
        "http://host/a\r\nX-Evil: 1",
        "http://host/a\tb",
        "http://host/a\x7F",
    };
    for (const char* url : cases) {
        nwSplitUrlParts parts;
        parts.host = "kept";
        parts.port = 7;
        EXPECT_EQ(SplitUrl(url, parts), qv::kLayerFail) << url;
        EXPECT_STREQ(parts.host.CStr(), "kept") << url;
        EXPECT_EQ(parts.port, 7) << url;
    }
    nwSplitUrlParts parts;
    EXPECT_EQ(SplitUrl(nullptr, parts), qv::kLayerFail);
}

}  // namespace
