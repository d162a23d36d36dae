#include "ostra/norvikqos/http/nwCHttpGETHeaderBuilder.h"

#include <string>

#include "tvx/BuiltinConfig.h"

void nwCHttpGETHeaderBuilder::BuildHeader(qvCString& out) {
    std::string text;
    text.reserve(512);
    WriteRequestLine(text, "GET");
    WriteFixedHeader(text, "Accept", "*/*");
    WriteFixedHeader(text, "Referer", tvx::config::kRefererUrl);
    WriteFixedHeader(text, "Accept-Language", "ko");
    WriteFixedHeader(text, "User-Agent", "NorvikClient");
    WriteFixedHeader(text, "Range", nullptr);
    WriteFixedHeader(text, "Host", nullptr);
    WriteFixedHeader(text, "Connection", "Keep-Alive");
    WriteRemainingHeaders(text);
    text.append("\r\n");
    out.Append(text.data(), text.size());
}

void nwCHttpGETHeaderBuilder::BuildTrailer(qvCString&) {}
