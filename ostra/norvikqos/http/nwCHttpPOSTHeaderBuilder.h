#pragma once

#include "ostra/norvikqos/http/nwCHttpRequestHeaderBuilder.h"

// A POST request whose body is sent as the one part of a multipart/form-data
// body:
//   POST <target> HTTP/1.1
//   Accept, Referer, Accept-Language, Content-Type, User-Agent, Host,
//   Content-Length, Connection, the remaining caller headers, the blank line,
//   then the part header and CR LF.
// The caller's body follows, then BuildTrailer's closing boundary.
//
// With a body length above 0 the part header is
//   "--" boundary CR LF
//   "Content-Disposition: form-data; name=attach_file; filename=unknown" CR LF
//   "Content-Type: application/octet-stream" CR LF
// and Content-Length counts every byte sent after the blank line: part header,
// CR LF, body and trailer. With a length of 0 or less the part header is only
// the boundary line and no Content-Length is sent.
class nwCHttpPOSTHeaderBuilder : public nwCHttpRequestHeaderBuilder {
  public:
    // 27 hyphens and 16 hex digits from the pseudo-random generator.
    static constexpr size_t kBoundaryLength = 43;

    nwCHttpPOSTHeaderBuilder();

    void BuildHeader(qvCString& out) override;
    // CR LF "--" boundary "--" CR LF.
    void BuildTrailer(qvCString& out) override;

    const qvCString& GetBoundary() const { return boundary_; }
    // The part header as BuildHeader writes it for the current content length.
    qvCString GetPartHeader() const;

  private:
    qvCString boundary_;
};
