#pragma once

#include <string>
#include <string_view>

namespace platform {

// The narrow code page of the process: the codeset of the current locale
// (LC_CTYPE), e.g. "UTF-8" or "EUC-KR".
std::string NarrowCodeset();

// Narrow text to UTF-8 and back. The identity when the narrow code page is
// UTF-8, and also under the plain C locale, whose ASCII codeset would otherwise
// destroy every non-ASCII byte of texts that are UTF-8 in practice.
std::string NarrowToUtf8(std::string_view text);
std::string Utf8ToNarrow(std::string_view text);

// Converts text between two codesets with iconv. What the source cannot hold or
// the target cannot show becomes one replacement per character (U+FFFD in
// UTF-8, "?" in any other codeset), so nothing is silently dropped. False when
// the pair of codesets is unknown; out then holds the text unchanged.
bool ConvertCodeset(std::string_view text, const char* from, const char* to, std::string& out);

}  // namespace platform
