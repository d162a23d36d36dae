#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvResult.h"

// The header block of one HTTP response: status line, header lines and the
// blank line that ends them.
//
// Parsing is strict where a mistake would corrupt a download and never reads
// outside the bytes it is given. A block that fails leaves no status, no
// headers and no length behind (so a caller sees an unusable response), keeps
// the raw text for the log, and tells why through the result:
//   kBadStatusLine     not "HTTP/<digit>.<digit> <status 100-599>[ reason]"
//   kBadHeaderLine     a line without ":", an empty or non-token name, a
//                      folded line, or a control character (bare CR, NUL, ...)
//   kBadContentLength  not digits only, too large, or several that differ
//   kUnsupportedTransferCoding  a Transfer-Encoding other than "identity": the
//                      body would be framed, and this client does not decode it
//   kHeaderTooLarge    more than kMaxHeaderBytes
//   kIncompleteHeader  no blank line in the block
//
// Header values are percent-decoded ("%20" becomes a space), except where the
// decoded value would hold a control character; that value is kept as sent.
class nwCHttpHeaderParser {
  public:
    static constexpr size_t kMaxHeaderBytes = 64 * 1024;

    static constexpr qvResult kBadStatusLine = static_cast<int32_t>(0x80300101u);
    static constexpr qvResult kBadHeaderLine = static_cast<int32_t>(0x80300102u);
    static constexpr qvResult kBadContentLength = static_cast<int32_t>(0x80300103u);
    static constexpr qvResult kUnsupportedTransferCoding = static_cast<int32_t>(0x80300104u);
    static constexpr qvResult kHeaderTooLarge = static_cast<int32_t>(0x80300105u);
    static constexpr qvResult kIncompleteHeader = static_cast<int32_t>(0x80300106u);

    // Length of the header block at the start of data, through its first
    // CR LF CR LF; 0 while it has not fully arrived. Terminators starting
    // before `from` are not looked for, so a caller that is offered the same
    // bytes again with more appended can pass the previous size less 3.
    static size_t FindHeaderEnd(const char* data, size_t size, size_t from = 0);

    // Parses the block through its first blank line; bytes after it are not
    // looked at. qv::kLayerOk or one of the failures above.
    qvResult Parse(const char* block, size_t length);
    void Clear();

    // The status code, 0 when no block has been parsed successfully.
    int32_t GetStatusCode() const { return statusCode_; }
    // The Content-Length value, 0 when absent.
    int64_t GetContentLength() const { return contentLength_; }
    bool HasContentLength() const { return hasContentLength_; }
    // The value of the first header whose name, with its ":", begins with key,
    // both compared in ASCII lower case: "Location:" finds "location: x".
    // kLayerFail for a null or empty key or when nothing matches.
    qvResult GetHeader(const char* key, qvCString& value) const;
    // The block through its blank line as received (also after a failure),
    // empty before the first Parse.
    const qvCString& GetRawHeader() const { return raw_; }
    bool IsParsed() const { return statusCode_ != 0; }

  private:
    struct Entry {
        qvCString name;  // with its ":"
        qvCString value;
    };

    qvResult ParseLines(const char* block, size_t length);

    qvCString raw_;
    std::vector<Entry> entries_;
    int32_t statusCode_ = 0;
    int64_t contentLength_ = 0;
    bool hasContentLength_ = false;
};
