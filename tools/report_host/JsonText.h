#pragma once

#include <string>
#include <string_view>

// Appends bytes as a quoted JSON string. Well-formed UTF-8 is kept as it is
// (with the escapes JSON requires); every byte that is not part of a well-formed
// UTF-8 sequence, such as the bytes of a CP949 text, is written as \u00XX with
// XX its value, so the line stays valid JSON and the original bytes can be
// recovered by reading such escapes as bytes.
void AppendJsonString(std::string& out, std::string_view bytes);
