#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ostra/norvikqos/http/nwCHttpRequestHeaderBuilder.h"
#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvResult.h"

enum class nwEHttpRequestType : int32_t {
    kGet = 1,
    kPost = 2,
};

// What the HTTP client layer collects for its one request. Headers and query
// parameters set before the first send are kept here; the first Build creates
// the builder for the request type and hands it everything, in order. Later
// calls go straight to the builder but no longer change the request sent.
class nwCHttpRequestStore {
  public:
    // Adds or replaces (names compared without regard to ASCII case). The same
    // checks as nwCHttpRequestHeaderBuilder::AddHeader; the layer refuses empty
    // names and values before it gets here.
    qvResult SetHeader(const char* name, const char* value);
    qvResult SetQueryParameter(const char* name, const char* value);
    void SetBodyLength(int64_t length);

    // Appends the request header text. An instance carries one request: once a
    // builder exists nothing is built and false is returned, out untouched.
    bool Build(nwEHttpRequestType type, qvCString& out);
    // Appends the builder's trailer; false when no request has been built.
    bool BuildTrailer(qvCString& out);
    bool HasBuilder() const { return builder_ != nullptr; }

  private:
    std::unique_ptr<nwCHttpRequestHeaderBuilder> builder_;
    int64_t bodyLength_ = 0;
    std::vector<nwHttpHeaderEntry> headers_;
    std::vector<nwHttpQueryEntry> queries_;
};
