#pragma once

#include <string>
#include <string_view>

#include "ostra/norvikqos/object/qvResult.h"

// Makes the target of a redirect ("Location:") absolute against the URL that
// answered it, the way RFC 3986 resolves a reference: an absolute URL stands as
// it is, "//host/x" keeps the base's scheme, "/x" its scheme and host, "x" and
// "../x" are taken from the base's folder with "." and ".." segments removed,
// "?q" replaces only the base's query. A fragment never goes to a server, so
// it is dropped.
//
// qv::kLayerOk with target set, or qv::kLayerFail with target untouched when
// the location is empty, the base is not an absolute URL, or the result is not
// a URL that SplitUrl accepts (another scheme, no host, a bad port, control
// characters): a redirect there could never be opened; or when the base is an
// https URL and the result is not: a redirect never lowers the scheme.
qvResult ResolveLocation(std::string_view base, std::string_view location, std::string& target);
