#include "ostra/norvikqos/http/nwCHttpRequestStore.h"

#include <strings.h>

#include "ostra/norvikqos/http/nwCHttpGETHeaderBuilder.h"
#include "ostra/norvikqos/http/nwCHttpPOSTHeaderBuilder.h"

namespace {

// Adds or replaces an entry; the same name rule as the builders, so that what
// is stored is what will be sent.
template <class Entry>
void Store(std::vector<Entry>& list, const char* name, const char* value) {
    for (auto& entry : list) {
        if (strcasecmp(entry.name.CStr(), name) == 0) {
            entry.value.Assign(value);
            return;
        }
    }
    Entry entry;
    entry.name.Assign(name);
    entry.value.Assign(value);
    list.push_back(std::move(entry));
}

}  // namespace

qvResult nwCHttpRequestStore::SetHeader(const char* name, const char* value) {
    if (builder_)
        return builder_->AddHeader(name, value);
    if (!nwCHttpRequestHeaderBuilder::IsValidHeaderName(name) ||
        !nwCHttpRequestHeaderBuilder::IsValidHeaderValue(value))
        return qv::kLayerFail;
    Store(headers_, name, value);
    return qv::kLayerOk;
}

qvResult nwCHttpRequestStore::SetQueryParameter(const char* name, const char* value) {
    if (builder_)
        return builder_->SetQueryParameter(name, value);
    if (!name || !*name || !value)
        return qv::kLayerFail;
    Store(queries_, name, value);
    return qv::kLayerOk;
}

void nwCHttpRequestStore::SetBodyLength(int64_t length) {
    bodyLength_ = length;
    if (builder_)
        builder_->SetContentLength(length);
}

bool nwCHttpRequestStore::Build(nwEHttpRequestType type, qvCString& out) {
    if (builder_)
        return false;
    switch (type) {
        case nwEHttpRequestType::kGet:
            builder_ = std::make_unique<nwCHttpGETHeaderBuilder>();
            break;
        case nwEHttpRequestType::kPost:
            builder_ = std::make_unique<nwCHttpPOSTHeaderBuilder>();
            break;
        default:
            return false;
    }
    for (const auto& header : headers_)
        builder_->AddHeader(header.name.CStr(), header.value.CStr());
    for (const auto& query : queries_)
        builder_->SetQueryParameter(query.name.CStr(), query.value.CStr());
    builder_->SetContentLength(bodyLength_);
    builder_->BuildHeader(out);
    return true;
}

bool nwCHttpRequestStore::BuildTrailer(qvCString& out) {
    if (!builder_)
        return false;
    builder_->BuildTrailer(out);
    return true;
}
