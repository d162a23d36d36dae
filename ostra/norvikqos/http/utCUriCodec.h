#pragma once

#include <cstddef>
#include <cstdint>

#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvResult.h"

// Percent-encoding of byte strings for HTTP requests, and the conversions of
// request paths and redirect targets between the narrow code page and UTF-8.
// Stateless.
//
// Encode and Decode follow a two-pass pattern: call with a null buffer to learn
// the length, then again with a buffer of at least length + 1 bytes. The buffer
// size is checked: a buffer that cannot hold the text and its terminating zero
// is left untouched and the call fails (length still tells what is needed).
// EncodeText and DecodeText do both passes on a string.
class utCUriCodec {
  public:
    static constexpr qvResult kOk = 0x40600000;
    static constexpr qvResult kFail = static_cast<int32_t>(0x80600000u);

    // Turns every "%" with two hex digits (either case) into its byte; every
    // other byte, "+" and a "%" without two hex digits after it stay as they are.
    // kFail for a null or empty input.
    virtual qvResult Decode(const char* input, char* buffer, size_t bufferSize,
                            size_t& length) const;
    // Keeps A-Z, a-z, 0-9, "*", "+", "-", ".", "_" and "@"; writes every other
    // byte as "%" and two upper-case hex digits. kFail for a null or empty input.
    virtual qvResult Encode(const char* input, char* buffer, size_t bufferSize,
                            size_t& length) const;
    virtual ~utCUriCodec() = default;

    // Both passes; on success text is replaced, otherwise (an empty text) left
    // as it was.
    qvResult DecodeText(qvCString& text) const;
    qvResult EncodeText(qvCString& text) const;

    // Narrow code page to UTF-8 and back. A character the target cannot show
    // becomes a replacement character; the result is always qv::kOk. A null
    // input gives an empty output.
    static qvResult AnsiToUtf8(const char* input, qvCString& output);
    static qvResult Utf8ToAnsi(const char* input, qvCString& output);
};
