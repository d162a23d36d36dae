#include "ostra/norvikqos/http/utCUriCodec.h"

#include <array>
#include <cstring>
#include <string>

#include "platform/CodePage.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// 1 for the bytes Encode writes unchanged.
constexpr std::array<uint8_t, 256> kKept = [] {
    std::array<uint8_t, 256> kept{};
    for (int c = 'A'; c <= 'Z'; ++c)
        kept[c] = 1;
    for (int c = 'a'; c <= 'z'; ++c)
        kept[c] = 1;
    for (int c = '0'; c <= '9'; ++c)
        kept[c] = 1;
    for (unsigned char c : {'*', '+', '-', '.', '_', '@'})
        kept[c] = 1;
    return kept;
}();

// The value of a hex digit, -1 for any other byte.
constexpr std::array<int8_t, 256> kHexValue = [] {
    std::array<int8_t, 256> value{};
    value.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        value[c] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        value[c] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        value[c] = static_cast<int8_t>(c - 'a' + 10);
    return value;
}();

size_t EncodedLength(const unsigned char* in, size_t size) {
    size_t length = 0;
    for (size_t i = 0; i < size; ++i)
        length += kKept[in[i]] ? 1 : 3;
    return length;
}

void EncodeInto(const unsigned char* in, size_t size, char* out) {
    for (size_t i = 0; i < size; ++i) {
        const unsigned char byte = in[i];
        if (kKept[byte]) {
            *out++ = static_cast<char>(byte);
        } else {
            *out++ = '%';
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 0x0F];
        }
    }
    *out = '\0';
}

// Walks the input as Decode does; with a null out it only counts.
size_t DecodeInto(const unsigned char* in, size_t size, char* out) {
    size_t length = 0;
    size_t i = 0;
    while (size - i >= 3) {
        const int high = kHexValue[in[i + 1]];
        const int low = kHexValue[in[i + 2]];
        if (in[i] == '%' && high >= 0 && low >= 0) {
            if (out)
                out[length] = static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            if (out)
                out[length] = static_cast<char>(in[i]);
            ++i;
        }
        ++length;
    }
    for (; i < size; ++i, ++length) {
        if (out)
            out[length] = static_cast<char>(in[i]);
    }
    if (out)
        out[length] = '\0';
    return length;
}

// Both passes of Encode or Decode on a string.
template <class Codec>
qvResult Rewrite(const Codec& codec, qvCString& text,
                 qvResult (Codec::*operation)(const char*, char*, size_t, size_t&) const) {
    size_t length = 0;
    qvResult result = (codec.*operation)(text.CStr(), nullptr, 0, length);
    if (qv::Failed(result))
        return result;
    std::string buffer(length + 1, '\0');
    result = (codec.*operation)(text.CStr(), buffer.data(), buffer.size(), length);
    if (qv::Succeeded(result))
        text.Assign(buffer.data(), length);
    return result;
}

}  // namespace

qvResult utCUriCodec::Decode(const char* input, char* buffer, size_t bufferSize,
                             size_t& length) const {
    length = 0;
    if (!input || !*input)
        return kFail;
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    const size_t size = std::strlen(input);
    length = DecodeInto(in, size, nullptr);
    if (!buffer)
        return kOk;
    if (bufferSize <= length)
        return kFail;
    DecodeInto(in, size, buffer);
    return kOk;
}

qvResult utCUriCodec::Encode(const char* input, char* buffer, size_t bufferSize,
                             size_t& length) const {
    length = 0;
    if (!input || !*input)
        return kFail;
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    const size_t size = std::strlen(input);
    length = EncodedLength(in, size);
    if (!buffer)
        return kOk;
    if (bufferSize <= length)
        return kFail;
    EncodeInto(in, size, buffer);
    return kOk;
}

qvResult utCUriCodec::DecodeText(qvCString& text) const {
    return Rewrite(*this, text, &utCUriCodec::Decode);
}

qvResult utCUriCodec::EncodeText(qvCString& text) const {
    return Rewrite(*this, text, &utCUriCodec::Encode);
}

qvResult utCUriCodec::AnsiToUtf8(const char* input, qvCString& output) {
    const std::string converted = platform::NarrowToUtf8(input ? input : "");
    output.Assign(converted.data(), converted.size());
    return qv::kOk;
}

qvResult utCUriCodec::Utf8ToAnsi(const char* input, qvCString& output) {
    const std::string converted = platform::Utf8ToNarrow(input ? input : "");
    output.Assign(converted.data(), converted.size());
    return qv::kOk;
}
