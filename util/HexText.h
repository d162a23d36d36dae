#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Bytes as hex digits, as digests and signatures are written in text files.

// The value of one hex digit (either case), -1 for any other character.
int HexDigitValue(char c);

// Two lower-case hex digits a byte.
std::string HexText(std::span<const uint8_t> bytes);

// Exactly two hex digits (either case) for each byte of out; false, with out
// unspecified, for any other text.
bool ParseHexText(std::string_view text, std::span<uint8_t> out);
