// Response header blocks: the good ones, every kind of malformed one, and blocks
// that arrive in pieces. Every block is parsed from a heap copy of exactly its
// size, so a read past the end shows under AddressSanitizer.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ostra/norvikqos/http/nwCHttpHeaderParser.h"

namespace {

using Parser = nwCHttpHeaderParser;

qvResult ParseExact(Parser& parser, const std::string& block) {
    const auto copy = std::make_unique<char[]>(block.size());
    std::copy(block.begin(), block.end(), copy.get());
    return parser.Parse(copy.get(), block.size());
}

size_t FindEndExact(const std::string& data, size_t from = 0) {
    const auto copy = std::make_unique<char[]>(data.size());
    std::copy(data.begin(), data.end(), copy.get());
    return Parser::FindHeaderEnd(copy.get(), data.size(), from);
}

std::string Header(const Parser& parser, const char* key) {
    qvCString value;
    if (qv::Failed(parser.GetHeader(key, value)))
        return "<none>";
    return std::string(value.CStr(), value.Length());
}

TEST(HttpHeaderParser, ParsesStatusLengthAndDecodedValues) {
    Parser parser;
    const std::string block =
        "HTTP/1.1 206 Partial Content\r\n"
        "Content-Range: bytes 0-4/10\r\n"
        "content-length:   5 \r\n"
        "Location: http://h/sub%20dir/%EA%B2%8C.zip\r\n"
        "X-Empty:\r\n"
        "\r\n";
    ASSERT_EQ(ParseExact(parser, block + "BODY"), qv::kLayerOk);
    EXPECT_EQ(parser.GetStatusCode(), 206);
    EXPECT_EQ(parser.GetContentLength(), 5);
    EXPECT_TRUE(parser.HasContentLength());
    EXPECT_EQ(Header(parser, "Location:"), "http://h/sub dir/\xEA\xB2\x8C.zip");
    EXPECT_EQ(Header(parser, "LOCATION"), "http://h/sub dir/\xEA\xB2\x8C.zip");
    EXPECT_EQ(Header(parser, "Content-Length"), "5");
    EXPECT_EQ(Header(parser, "Content-"), "bytes 0-4/10") << "first name that begins with the key";
    EXPECT_EQ(Header(parser, "X-Empty:"), "");
    EXPECT_EQ(Header(parser, "Content-Type:"), "<none>");
    EXPECT_EQ(Header(parser, ""), "<none>");
    qvCString value;
    EXPECT_EQ(parser.GetHeader(nullptr, value), qv::kLayerFail);
    EXPECT_EQ(std::string(parser.GetRawHeader().CStr(), parser.GetRawHeader().Length()), block);
}

TEST(HttpHeaderParser, StatusWithoutReasonAndWithoutLength) {
    Parser parser;
    ASSERT_EQ(ParseExact(parser, "HTTP/1.0 302\r\nLocation: /next\r\n\r\n"), qv::kLayerOk);
    EXPECT_EQ(parser.GetStatusCode(), 302);
    EXPECT_EQ(parser.GetContentLength(), 0);
    EXPECT_FALSE(parser.HasContentLength());
    // Decoding that would yield a line break keeps the value as it was sent.
    ASSERT_EQ(ParseExact(parser, "HTTP/1.1 302 Found\r\nLocation: /a%0D%0AX: 1\r\n\r\n"),
              qv::kLayerOk);
    EXPECT_EQ(Header(parser, "Location:"), "/a%0D%0AX: 1");
    // A second parse forgets the first block.
    ASSERT_EQ(ParseExact(parser, "HTTP/1.1 200 OK\r\n\r\n"), qv::kLayerOk);
    EXPECT_EQ(Header(parser, "Location:"), "<none>");
}

TEST(HttpHeaderParser, MalformedBlocks) {
    struct Case {
        std::string block;
        qvResult expected;
    };
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const Case cases[] = {
        // status lines
        {"\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1 20 OK\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1 2000 OK\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1 200OK\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1  200 OK\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1 099 Low\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1 600 High\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/11 200 OK\r\n\r\n", Parser::kBadStatusLine},
        {"http/1.1 200 OK\r\n\r\n", Parser::kBadStatusLine},
        {"ICY 200 OK\r\n\r\n", Parser::kBadStatusLine},
        {"HTTP/1.1 2x0 OK\r\n\r\n", Parser::kBadStatusLine},
        {std::string("HTTP/1.1 200 O\0K\r\n\r\n", 20), Parser::kBadStatusLine},
        {"HTTP/1.1 200 OK\nServer: x\r\n\r\n", Parser::kBadStatusLine},
        {"\x16\x03\x01\x02\xfc\x01\r\n\r\n", Parser::kBadStatusLine},
        // header lines
        {ok + "NoColon\r\n\r\n", Parser::kBadHeaderLine},
        {ok + ": value\r\n\r\n", Parser::kBadHeaderLine},
        {ok + "Bad Name: v\r\n\r\n", Parser::kBadHeaderLine},
        {ok + "Name : v\r\n\r\n", Parser::kBadHeaderLine},
        {ok + "A: 1\r\n folded\r\n\r\n", Parser::kBadHeaderLine},
        {ok + "A: 1\rB: 2\r\n\r\n", Parser::kBadHeaderLine},
        {ok + "A: 1\nB: 2\r\n\r\n", Parser::kBadHeaderLine},
        {ok + std::string("A: x\0y\r\n\r\n", 10), Parser::kBadHeaderLine},
        {ok + "A: \x01\r\n\r\n", Parser::kBadHeaderLine},
        {ok + "A: \x7F\r\n\r\n", Parser::kBadHeaderLine},
        // lengths
        {ok + "Content-Length:\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: abc\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: 12abc\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: -1\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: +5\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: 1 2\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: 5, 5\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: 9223372036854775808\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: 99999999999999999999999\r\n\r\n", Parser::kBadContentLength},
        {ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", Parser::kBadContentLength},
        // framing this client does not decode
        {ok + "Transfer-Encoding: chunked\r\n\r\n", Parser::kUnsupportedTransferCoding},
        {ok + "Content-Length: 5\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
         Parser::kUnsupportedTransferCoding},
        // incomplete
        {"", Parser::kIncompleteHeader},
        {"HTTP/1.1 200 OK\r\n", Parser::kIncompleteHeader},
        {"HTTP/1.1 200 OK\r\nA: 1\r\n\r", Parser::kIncompleteHeader},
        {"HTTP/1.1 200 OK\n\n", Parser::kIncompleteHeader},
        // too large
        {ok + "X-Big: " + std::string(Parser::kMaxHeaderBytes, 'a') + "\r\n\r\n",
         Parser::kHeaderTooLarge},
        {ok + "X-Big: " + std::string(Parser::kMaxHeaderBytes, 'a'), Parser::kHeaderTooLarge},
    };
    for (const auto& c : cases) {
        Parser parser;
        const std::string shown = c.block.substr(0, 60);
        EXPECT_EQ(ParseExact(parser, c.block), c.expected) << shown;
        EXPECT_EQ(parser.GetStatusCode(), 0) << shown;
        EXPECT_EQ(parser.GetContentLength(), 0) << shown;
        EXPECT_FALSE(parser.HasContentLength()) << shown;
        EXPECT_EQ(Header(parser, "Content-Length"), "<none>") << shown;
        EXPECT_FALSE(parser.IsParsed()) << shown;
    }
    Parser parser;
    EXPECT_EQ(parser.Parse(nullptr, 10), Parser::kIncompleteHeader);
}

TEST(HttpHeaderParser, AcceptedEdges) {
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const struct {
        std::string block;
        int64_t length;
    } cases[] = {
        {ok + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n", 5},
        {ok + "Content-Length: 9223372036854775807\r\n\r\n", INT64_MAX},
        {ok + "Content-Length: 0\r\n\r\n", 0},
        {ok + "Transfer-Encoding: identity\r\nContent-Length: 3\r\n\r\n", 3},
        {ok + "X-Big: " + std::string(Parser::kMaxHeaderBytes - 100, 'a') + "\r\n\r\n", 0},
        {"HTTP/1.1 200 \xEC\x84\xB1\xEA\xB3\xB5\r\nX-Tab:\ta\tb\r\n\r\n", 0},
    };
    for (const auto& c : cases) {
        Parser parser;
        EXPECT_EQ(ParseExact(parser, c.block), qv::kLayerOk) << c.block.substr(0, 60);
        EXPECT_EQ(parser.GetStatusCode(), 200);
        EXPECT_EQ(parser.GetContentLength(), c.length);
    }
}

TEST(HttpHeaderParser, HeaderSplitAtEveryByte) {
    const std::string header =
        "HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Length: 4\r\nX-R: \r\n\r\n";
    const std::string response = header + "\r\n\r\nab";
    for (size_t split = 0; split <= response.size(); ++split) {
        const std::string first = response.substr(0, split);
        const size_t expected = split >= header.size() ? header.size() : 0;
        EXPECT_EQ(FindEndExact(first), expected) << split;
        // As a receiver does it: look again only at what can hold a new end.
        const size_t from = split > 3 ? split - 3 : 0;
        size_t found = FindEndExact(first);
        if (found == 0)
            found = FindEndExact(response, from);
        EXPECT_EQ(found, header.size()) << split;
    }
    // One byte at a time, the way a slow server sends it.
    std::string buffer;
    size_t ends = 0;
    for (const char c : response) {
        buffer.push_back(c);
        if (ends == 0 && FindEndExact(buffer, buffer.size() > 3 ? buffer.size() - 4 : 0) != 0)
            ends = buffer.size();
    }
    EXPECT_EQ(ends, header.size());
    Parser parser;
    ASSERT_EQ(ParseExact(parser, buffer.substr(0, ends)), qv::kLayerOk);
    EXPECT_EQ(parser.GetContentLength(), 4);
}

}  // namespace
