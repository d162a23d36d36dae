// Request texts of the GET and POST builders, driven through the request store
// in the order the HTTP client layer uses: Open sets "Host", the caller adds its
// headers, the send sets the path and builds.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "ostra/norvikqos/http/SplitUrl.h"
#include "ostra/norvikqos/http/nwCHttpMimeTypeMap.h"
#include "ostra/norvikqos/http/nwCHttpPOSTHeaderBuilder.h"
#include "ostra/norvikqos/http/nwCHttpRequestStore.h"
#include "tvx/BuiltinConfig.h"

namespace {

using Headers = std::vector<std::pair<const char*, const char*>>;

std::string GetRequest(const char* url, const Headers& headers = {}) {
    nwSplitUrlParts parts;
    EXPECT_EQ(SplitUrl(url, parts), qv::kLayerOk) << url;
    nwCHttpRequestStore store;
    EXPECT_EQ(store.SetHeader("Host", parts.host.CStr()), qv::kLayerOk);
    for (const auto& [name, value] : headers)
        EXPECT_EQ(store.SetHeader(name, value), qv::kLayerOk) << name;
    store.SetHeader("GET", parts.path.CStr());
    qvCString out;
    EXPECT_TRUE(store.Build(nwEHttpRequestType::kGet, out));
    return std::string(out.CStr(), out.Length());
}

// The first line of a request.
std::string RequestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

const std::string kReferer = std::string("Referer: ") + tvx::config::kRefererUrl + "\r\n";

TEST(HttpRequestBuilder, GetWithCapitalSchemeAndPort) {
    nwSplitUrlParts parts;
    ASSERT_EQ(SplitUrl("HTTPS://cdn.example.test:8443/a/b.zip", parts), qv::kLayerOk);
    EXPECT_EQ(parts.kind, nwEUrlKind::kSecure);
    EXPECT_EQ(parts.port, 8443);
    // The Host header carries the name alone, without the port.
    EXPECT_EQ(GetRequest("HTTPS://cdn.example.test:8443/a/b.zip"),
              "GET /a/b.zip HTTP/1.1\r\n"
              "Accept: */*\r\n" +
                  kReferer +
                  "Accept-Language: ko\r\n"
                  "User-Agent: NorvikClient\r\n"
                  "Host: cdn.example.test\r\n"
                  "Connection: Keep-Alive\r\n"
                  "\r\n");
}

TEST(HttpRequestBuilder, FixedHeadersTakeCallerValuesInTheirPlace) {
    EXPECT_EQ(GetRequest("http://h/f.bin", {{"accept", "text/plain"},
                                            {"Range", "bytes=0-"},
                                            {"X-Note", "a b"},
                                            {"Cookie", "id=7; lang=ko ko"},
                                            {"user-agent", "Other"}}),
              "GET /f.bin HTTP/1.1\r\n"
              "Accept: text/plain\r\n" +
                  kReferer +
                  "Accept-Language: ko\r\n"
                  "User-Agent: Other\r\n"
                  "Range: bytes=0-\r\n"
                  "Host: h\r\n"
                  "Connection: Keep-Alive\r\n"
                  "X-Note: a%20b\r\n"
                  "Cookie: id=7; lang=ko ko\r\n"
                  "\r\n");
}

TEST(HttpRequestBuilder, RequestTargets) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/dir//sub dir/f.txt", "GET /dir/sub%20dir/f.txt HTTP/1.1"},
        {"http://h/dir/", "GET /dir HTTP/1.1"},
        {"http://h", "GET / HTTP/1.1"},
        {"http://h/", "GET / HTTP/1.1"},
        {"http://h//", "GET / HTTP/1.1"},
        {"http://h/list.txt?b=2&a", "GET /list.txt?b=2 HTTP/1.1"},
        {"http://h/q?x=1&y=a b&x=2", "GET /q?x=2&y=a%20b HTTP/1.1"},
        {"http://h/q?=1&e=", "GET /q?e= HTTP/1.1"},
        {"http://h?x=1", "GET /?x=1 HTTP/1.1"},
        {"http://h/100%.txt", "GET /100%25.txt HTTP/1.1"},
        {"http://h/\xEA\xB2\x8C/a~b.zip", "GET /%EA%B2%8C/a%7Eb.zip HTTP/1.1"},
    };
    for (const auto& [url, line] : cases)
        EXPECT_EQ(RequestLine(GetRequest(url)), line) << url;
}

TEST(HttpRequestBuilder, StoreRefusesTextsThatWouldBreakTheHeader) {
    nwCHttpRequestStore store;
    EXPECT_EQ(store.SetHeader("X-A", "a\r\nX-Evil: 1"), qv::kLayerFail);
    EXPECT_EQ(store.SetHeader("Cookie", "a\nb"), qv::kLayerFail);
    EXPECT_EQ(store.SetHeader("Bad Name", "v"), qv::kLayerFail);
    EXPECT_EQ(store.SetHeader("X:Y", "v"), qv::kLayerFail);
    EXPECT_EQ(store.SetHeader("", "v"), qv::kLayerFail);
    EXPECT_EQ(store.SetHeader(nullptr, "v"), qv::kLayerFail);
    EXPECT_EQ(store.SetHeader("X-A", nullptr), qv::kLayerFail);
    EXPECT_EQ(store.SetQueryParameter("", "v"), qv::kLayerFail);
    EXPECT_EQ(store.SetQueryParameter("n", nullptr), qv::kLayerFail);
    // A query with the same name replaces; a header set twice is sent once.
    EXPECT_EQ(store.SetQueryParameter("k", "1"), qv::kLayerOk);
    EXPECT_EQ(store.SetQueryParameter("K", "2&3"), qv::kLayerOk);
    EXPECT_EQ(store.SetHeader("X-A", "1"), qv::kLayerOk);
    EXPECT_EQ(store.SetHeader("x-a", "2"), qv::kLayerOk);
    store.SetHeader("GET", "/p");
    qvCString out;
    ASSERT_TRUE(store.Build(nwEHttpRequestType::kGet, out));
    const std::string text(out.CStr(), out.Length());
    EXPECT_EQ(RequestLine(text), "GET /p?k=2%263 HTTP/1.1");
    EXPECT_NE(text.find("\r\nX-A: 2\r\n\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Evil"), std::string::npos);
}

TEST(HttpRequestBuilder, OneRequestPerStore) {
    nwCHttpRequestStore store;
    store.SetHeader("GET", "/a");
    qvCString first;
    ASSERT_TRUE(store.Build(nwEHttpRequestType::kGet, first));
    EXPECT_FALSE(first.IsEmpty());
    // Later headers reach the builder but are not sent again.
    EXPECT_EQ(store.SetHeader("Range", "bytes=5-"), qv::kLayerOk);
    qvCString second;
    EXPECT_FALSE(store.Build(nwEHttpRequestType::kGet, second));
    EXPECT_FALSE(store.Build(nwEHttpRequestType::kPost, second));
    EXPECT_TRUE(second.IsEmpty());
    qvCString trailer;
    EXPECT_TRUE(store.BuildTrailer(trailer));
    EXPECT_TRUE(trailer.IsEmpty()) << "a GET has nothing after its header";

    nwCHttpRequestStore unbuilt;
    EXPECT_FALSE(unbuilt.BuildTrailer(trailer));
    EXPECT_FALSE(unbuilt.Build(static_cast<nwEHttpRequestType>(3), trailer));
    EXPECT_FALSE(unbuilt.HasBuilder());
}

struct PostRequest {
    std::string header;  // through the blank line
    std::string afterBlankLine;
    std::string trailer;
    std::string boundary;
};

PostRequest BuildPost(int64_t bodyLength) {
    nwCHttpRequestStore store;
    store.SetHeader("Host", "up.example.test");
    store.SetBodyLength(bodyLength);
    store.SetHeader("POST", "/upload/x.dat");
    qvCString out;
    EXPECT_TRUE(store.Build(nwEHttpRequestType::kPost, out));
    qvCString trailer;
    EXPECT_TRUE(store.BuildTrailer(trailer));
    PostRequest post;
    const std::string text(out.CStr(), out.Length());
    const size_t blank = text.find("\r\n\r\n");
    post.header = text.substr(0, blank + 4);
    post.afterBlankLine = text.substr(blank + 4);
    post.trailer.assign(trailer.CStr(), trailer.Length());
    const size_t at = text.find("boundary=");
    post.boundary = text.substr(at + 9, text.find("\r\n", at) - at - 9);
    return post;
}

TEST(HttpRequestBuilder, PostFramesTheBodyAndCountsEveryByteSent) {
    const PostRequest post = BuildPost(10);
    ASSERT_TRUE(std::regex_match(post.boundary, std::regex("-{27}[0-9A-F]{16}"))) << post.boundary;
    EXPECT_LE(std::stoul(post.boundary.substr(27, 8), nullptr, 16), 32767u);
    EXPECT_LE(std::stoul(post.boundary.substr(35, 8), nullptr, 16), 32767u);

    const std::string part =
        "--" + post.boundary +
        "\r\n"
        "Content-Disposition: form-data; name=attach_file; filename=unknown\r\n"
        "Content-Type: application/octet-stream\r\n";
    EXPECT_EQ(post.afterBlankLine, part + "\r\n");
    EXPECT_EQ(post.trailer, "\r\n--" + post.boundary + "--\r\n");
    const size_t sent = post.afterBlankLine.size() + 10 + post.trailer.size();
    EXPECT_EQ(post.header,
              "POST /upload/x.dat HTTP/1.1\r\n"
              "Accept: */*\r\n" +
                  kReferer +
                  "Accept-Language: ko\r\n"
                  "Content-Type: multipart/form-data; boundary=" +
                  post.boundary +
                  "\r\n"
                  "User-Agent: NorvikClient\r\n"
                  "Host: up.example.test\r\n"
                  "Content-Length: " +
                  std::to_string(sent) +
                  "\r\n"
                  "Connection: Keep-Alive\r\n"
                  "\r\n");
}

TEST(HttpRequestBuilder, PostWithoutBodyLength) {
    const PostRequest post = BuildPost(0);
    EXPECT_EQ(post.header.find("Content-Length"), std::string::npos) << post.header;
    EXPECT_EQ(post.afterBlankLine, "--" + post.boundary + "\r\n\r\n");
    // Boundaries differ between builders, so one body cannot close another's part.
    EXPECT_NE(BuildPost(0).boundary, BuildPost(0).boundary);
}

TEST(HttpRequestBuilder, MimeTypeMap) {
    EXPECT_STREQ(LookupMimeType(nullptr).CStr(), "application/octet-stream");
    EXPECT_STREQ(LookupMimeType("").CStr(), "application/octet-stream");
    EXPECT_STREQ(LookupMimeType("a.zip").CStr(), "application/octet-stream");
    GetMimeTypeMap().Register("a.zip", "application/zip");
    EXPECT_STREQ(LookupMimeType("a.zip").CStr(), "application/zip");
    EXPECT_STREQ(LookupMimeType("A.zip").CStr(), "application/octet-stream");
    GetMimeTypeMap().Clear();
    EXPECT_STREQ(LookupMimeType("a.zip").CStr(), "application/octet-stream");
}

}  // namespace
