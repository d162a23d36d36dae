#pragma once

#include "ostra/norvikqos/http/nwCHttpRequestHeaderBuilder.h"

// A GET request:
//   GET <target> HTTP/1.1
//   Accept, Referer, Accept-Language, User-Agent, Range, Host, Connection
//   the remaining caller headers, then the blank line.
// Range and Host are written only when set; the others have defaults.
class nwCHttpGETHeaderBuilder : public nwCHttpRequestHeaderBuilder {
  public:
    void BuildHeader(qvCString& out) override;
    // A GET has no body, so nothing follows it.
    void BuildTrailer(qvCString& out) override;
};
