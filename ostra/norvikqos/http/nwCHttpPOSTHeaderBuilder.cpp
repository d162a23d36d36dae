#include "ostra/norvikqos/http/nwCHttpPOSTHeaderBuilder.h"

#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>

#include "ostra/norvikqos/http/nwCHttpMimeTypeMap.h"
#include "tvx/BuiltinConfig.h"

namespace {

// Two values of 0 to 32767 each, as the boundary has always been made of.
std::string MakeBoundary() {
    static thread_local std::minstd_rand generator{std::random_device{}()};
    std::uniform_int_distribution<unsigned> value(0, 32767);
    char digits[17] = {};
    std::snprintf(digits, sizeof digits, "%08X%08X", value(generator), value(generator));
    return std::string(27, '-') + digits;
}

}  // namespace

nwCHttpPOSTHeaderBuilder::nwCHttpPOSTHeaderBuilder() : boundary_(MakeBoundary().c_str()) {}

qvCString nwCHttpPOSTHeaderBuilder::GetPartHeader() const {
    std::string part = "--";
    part.append(boundary_.CStr());
    part.append("\r\n");
    if (GetContentLength() > 0) {
        WriteHeaderLine(part, "Content-Disposition",
                        "form-data; name=attach_file; filename=unknown");
        WriteHeaderLine(part, "Content-Type", LookupMimeType(nullptr).CStr());
    }
    qvCString text;
    text.Assign(part.data(), part.size());
    return text;
}

void nwCHttpPOSTHeaderBuilder::BuildHeader(qvCString& out) {
    const qvCString part = GetPartHeader();
    const std::string contentType =
        std::string("multipart/form-data; boundary=") + boundary_.CStr();
    char length[32] = {};
    if (GetContentLength() > 0) {
        // Part header, its CR LF, the body and the trailer (CR LF, "--",
        // boundary, "--", CR LF): every byte that follows the blank line, so
        // that nothing is left over for the server to take as a next request.
        const int64_t total = static_cast<int64_t>(part.Length()) + 2 + GetContentLength() + 2 + 2 +
                              static_cast<int64_t>(boundary_.Length()) + 2 + 2;
        std::snprintf(length, sizeof length, "%" PRId64, total);
    }

    std::string text;
    text.reserve(768);
    WriteRequestLine(text, "POST");
    WriteFixedHeader(text, "Accept", "*/*");
    WriteFixedHeader(text, "Referer", tvx::config::kRefererUrl);
    WriteFixedHeader(text, "Accept-Language", "ko");
    WriteFixedHeader(text, "Content-Type", contentType.c_str());
    WriteFixedHeader(text, "User-Agent", "NorvikClient");
    WriteFixedHeader(text, "Host", nullptr);
    if (GetContentLength() > 0)
        WriteFixedHeader(text, "Content-Length", length);
    WriteFixedHeader(text, "Connection", "Keep-Alive");
    WriteRemainingHeaders(text);
    text.append("\r\n");
    text.append(part.CStr(), part.Length());
    text.append("\r\n");
    out.Append(text.data(), text.size());
}

void nwCHttpPOSTHeaderBuilder::BuildTrailer(qvCString& out) {
    std::string text = "\r\n--";
    text.append(boundary_.CStr());
    text.append("--\r\n");
    out.Append(text.data(), text.size());
}
