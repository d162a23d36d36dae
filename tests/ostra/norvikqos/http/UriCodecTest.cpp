// Percent-encoding and decoding, and the code page conversions behind
// AnsiToUtf8 and Utf8ToAnsi.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "ostra/norvikqos/http/utCUriCodec.h"
#include "platform/CodePage.h"

namespace {

struct Case {
    const char* input;
    const char* output;
};

// Both passes, as a caller does them; checks the length of the first pass.
std::string Coded(bool encode, const char* input) {
    const utCUriCodec codec;
    const auto op = encode ? &utCUriCodec::Encode : &utCUriCodec::Decode;
    size_t length = 0;
    EXPECT_EQ((codec.*op)(input, nullptr, 0, length), utCUriCodec::kOk) << input;
    std::string buffer(length + 1, 'x');
    size_t written = 0;
    EXPECT_EQ((codec.*op)(input, buffer.data(), buffer.size(), written), utCUriCodec::kOk);
    EXPECT_EQ(written, length);
    EXPECT_EQ(buffer[length], '\0') << "terminating zero";
    return buffer.substr(0, length);
}

TEST(UriCodecTest, EncodeTable) {
    const Case cases[] = {
        {"a b/c~d.txt", "a%20b%2Fc%7Ed.txt"},
        {"@*+-._", "@*+-._"},
        {"AZaz09", "AZaz09"},
        {"\xEA\xB0\x80", "%EA%B0%80"},
        {"100%", "100%25"},
        {"a=b&c?d#e", "a%3Db%26c%3Fd%23e"},
        {"\x01\x7F\x80\xFF", "%01%7F%80%FF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Coded(true, c.input), c.output) << c.input;
}

TEST(UriCodecTest, EncodeKeepsExactlyTheSixtyEightBytes) {
    const std::string kept = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*+-._@";
    ASSERT_EQ(kept.size(), 68u);
    for (int byte = 1; byte < 256; ++byte) {
        const char input[2] = {static_cast<char>(byte), '\0'};
        const std::string encoded = Coded(true, input);
        if (kept.find(static_cast<char>(byte)) != std::string::npos) {
            EXPECT_EQ(encoded, input) << byte;
        } else {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", byte);
            EXPECT_EQ(encoded, expected) << byte;
        }
    }
}

TEST(UriCodecTest, DecodeTable) {
    const Case cases[] = {
        {"%41%4a%4B", "AJK"}, {"100%", "100%"}, {"%4", "%4"},
        {"%zz1", "%zz1"},     {"a+b", "a+b"},   {"%EA%B0%80", "\xEA\xB0\x80"},
        {"%%41", "%A"},       {"%4%41", "%4A"}, {"%g1%41", "%g1A"},
        {"ab%2", "ab%2"},     {"%", "%"},       {"%2F%2f", "//"},
        {"%25", "%"},         {"%2541", "%41"},  // decoded once, not again
    };
    for (const Case& c : cases)
        EXPECT_EQ(Coded(false, c.input), c.output) << c.input;
}

TEST(UriCodecTest, DecodeUndoesEncodeForEveryByte) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte)
        all += static_cast<char>(byte);
    EXPECT_EQ(Coded(false, Coded(true, all.c_str()).c_str()), all);
}

TEST(UriCodecTest, EmptyOrNullInputFails) {
    const utCUriCodec codec;
    char buffer[8] = "keep";
    size_t length = 99;
    for (const char* input : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(codec.Encode(input, nullptr, 0, length), utCUriCodec::kFail);
        EXPECT_EQ(codec.Decode(input, buffer, sizeof buffer, length), utCUriCodec::kFail);
        EXPECT_STREQ(buffer, "keep");
    }

    qvCString text;
    EXPECT_EQ(codec.EncodeText(text), utCUriCodec::kFail);
    EXPECT_EQ(codec.DecodeText(text), utCUriCodec::kFail);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(UriCodecTest, TooSmallBufferIsLeftUntouched) {
    const utCUriCodec codec;
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    size_t length = 0;
    // "a b" encodes to 5 bytes and needs 6 with the zero.
    EXPECT_EQ(codec.Encode("a b", buffer, 5, length), utCUriCodec::kFail);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(codec.Encode("a b", buffer, 6, length), utCUriCodec::kOk);
    EXPECT_STREQ(buffer, "a%20b");

    EXPECT_EQ(codec.Decode("%41%42", buffer, 2, length), utCUriCodec::kFail);
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(buffer, "a%20b");
}

TEST(UriCodecTest, TextHelpersReplaceTheString) {
    const utCUriCodec codec;
    qvCString text("/files/\xEA\xB0\x80 1.txt");
    ASSERT_EQ(codec.EncodeText(text), utCUriCodec::kOk);
    EXPECT_STREQ(text.CStr(), "%2Ffiles%2F%EA%B0%80%201.txt");
    ASSERT_EQ(codec.DecodeText(text), utCUriCodec::kOk);
    EXPECT_STREQ(text.CStr(), "/files/\xEA\xB0\x80 1.txt");
}

// The UTF-8 of "가" and its CP949 bytes.
const char kGaUtf8[] = "\xEA\xB0\x80";
const char kGaCp949[] = "\xB0\xA1";

TEST(UriCodecConversionTest, IdentityForUtf8AndTheCLocale) {
    for (const char* locale : {"C.UTF-8", "C"}) {
        ASSERT_NE(std::setlocale(LC_CTYPE, locale), nullptr) << locale;
        qvCString out;
        EXPECT_EQ(utCUriCodec::AnsiToUtf8("a \xEA\xB0\x80\xFF", out), qv::kOk);
        EXPECT_STREQ(out.CStr(), "a \xEA\xB0\x80\xFF") << locale;
        EXPECT_EQ(utCUriCodec::Utf8ToAnsi("b \xEA\xB0\x80", out), qv::kOk);
        EXPECT_STREQ(out.CStr(), "b \xEA\xB0\x80") << locale;
        EXPECT_EQ(utCUriCodec::AnsiToUtf8(nullptr, out), qv::kOk);
        EXPECT_TRUE(out.IsEmpty());
    }
    std::setlocale(LC_CTYPE, "C");
}

TEST(UriCodecConversionTest, KoreanCodePageTable) {
    struct Conversion {
        const char* from;
        const char* to;
        std::string input;
        std::string output;
    };
    const Conversion cases[] = {
        {"CP949", "UTF-8", std::string("x") + kGaCp949 + "y", std::string("x") + kGaUtf8 + "y"},
        {"UTF-8", "CP949", std::string(kGaUtf8) + kGaUtf8, std::string(kGaCp949) + kGaCp949},
        // Not in CP949: one "?" per character, the rest kept.
        {"UTF-8", "CP949", "a\xF0\x9F\x98\x80" + std::string(kGaUtf8),
         "a?" + std::string(kGaCp949)},
        // Not UTF-8 at all, and a character cut off at the end.
        {"UTF-8", "CP949",
         "a\xFF"
         "b\xEA\xB0",
         "a?b?"},
        // No CP949 character: U+FFFD.
        {"CP949", "UTF-8",
         "a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"UTF-8", "CP949", "", ""},
    };
    for (const Conversion& c : cases) {
        std::string out = "stale";
        EXPECT_TRUE(platform::ConvertCodeset(c.input, c.from, c.to, out));
        EXPECT_EQ(out, c.output) << c.from << " -> " << c.to << ": " << c.input;
    }
}

TEST(UriCodecConversionTest, LongTextGrowsTheOutput) {
    std::string korean;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        korean += kGaCp949;
        expected += kGaUtf8;
    }
    std::string out;
    ASSERT_TRUE(platform::ConvertCodeset(korean, "CP949", "UTF-8", out));
    EXPECT_EQ(out, expected);
}

TEST(UriCodecConversionTest, UnknownCodesetKeepsTheText) {
    std::string out;
    EXPECT_FALSE(platform::ConvertCodeset("abc", "NO-SUCH-CODESET", "UTF-8", out));
    EXPECT_EQ(out, "abc");
}

}  // namespace
