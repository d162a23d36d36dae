#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvResult.h"

// A request header the caller set, or the request-line pseudo-header "GET" or
// "POST" whose value is the path. `used` marks an entry already written as one
// of the fixed headers, so that it is not written a second time.
struct nwHttpHeaderEntry {
    qvCString name;
    qvCString value;
    bool used = false;
};

struct nwHttpQueryEntry {
    qvCString name;
    qvCString value;
};

// Builds the text of one HTTP/1.1 request: request line, the fixed headers in
// their fixed order with their defaults, the remaining caller headers, the blank
// line, and (for POST) the framing around the body. The GET and POST builders
// differ in the fixed headers and the framing.
class nwCHttpRequestHeaderBuilder {
  public:
    virtual ~nwCHttpRequestHeaderBuilder() = default;
    // Appends the request text up to the first byte of the body.
    virtual void BuildHeader(qvCString& out) = 0;
    // Appends what follows the body (nothing for GET).
    virtual void BuildTrailer(qvCString& out) = 0;

    // Adds or replaces a header (names compared without regard to ASCII case).
    // The pseudo-header "GET" or "POST" carries the path; a "?" in it starts a
    // query whose "name=value" pieces become query parameters (pieces without
    // "=" are dropped). qv::kLayerFail, storing nothing, for a null or empty
    // name, a name that is not an HTTP token, a null value, or a CR or LF in
    // the value: either would let a caller end the header early.
    qvResult AddHeader(const char* name, const char* value);
    // Adds or replaces a query parameter (names compared without regard to
    // case). Names and values are kept as given and encoded when written.
    qvResult SetQueryParameter(const char* name, const char* value);
    void SetContentLength(int64_t length) { contentLength_ = length; }
    int64_t GetContentLength() const { return contentLength_; }

    // "Name: value" CR LF.
    static void WriteHeaderLine(std::string& out, const char* name, const char* value);
    // True when a header value may be set: no CR and no LF.
    static bool IsValidHeaderValue(const char* value);
    // True when name is a non-empty HTTP token.
    static bool IsValidHeaderName(const char* name);

  protected:
    // The request line: method, request target, "HTTP/1.1".
    void WriteRequestLine(std::string& out, const char* method);
    // A fixed header: the caller's value when one is set (which marks the entry
    // used), else the default; left out when neither is there.
    void WriteFixedHeader(std::string& out, const char* name, const char* defaultValue);
    // Every caller header not written yet, values percent-encoded except the
    // value of "Cookie".
    void WriteRemainingHeaders(std::string& out);

  private:
    nwHttpHeaderEntry* FindHeader(const char* name);
    // The path as UTF-8, each non-empty segment percent-encoded, "/" when there
    // is none, then the encoded query.
    void WriteRequestTarget(std::string& out);

    std::vector<nwHttpHeaderEntry> headers_;
    std::vector<nwHttpQueryEntry> queries_;
    int64_t contentLength_ = 0;
};
