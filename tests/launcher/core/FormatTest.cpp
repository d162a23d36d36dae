// Every size, speed and time example of the formats, as tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "launcher/core/Format.h"

using namespace launcher;

namespace {

struct NumberCase {
    int64_t value;
    const char* text;
};

}  // namespace

TEST(FormatTest, SizeText) {
    const NumberCase cases[] = {
        {0, "0 Bytes"},
        {1023, "1023 Bytes"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},  // 1023.999... is below 1024, rounded only when printed
        {1048576, "1.00 MB"},
        {1073741824, "1.00 GB"},
        {-5, "-5 Bytes"},
        {-100000, "-100000 Bytes"},  // negatives never leave the first step
        {1099511627776LL, "1.00 TB"},
        {1125899906842623LL, "1024.00 TB"},  // just below 1024 TB
        {1125899906842624LL, ""},            // 1024 TB
        {INT64_MAX, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SizeText(c.value), c.text) << c.value;
}

TEST(FormatTest, SpeedText) {
    const NumberCase cases[] = {
        {0, "0 Bytes/Sec"},
        {-1, "0 Bytes/Sec"},
        {INT64_MIN, "0 Bytes/Sec"},
        {1, "1 Bytes/Sec"},
        {1023, "1023 Bytes/Sec"},
        {2048, "2.00 KB/Sec"},
        {1572864, "1.50 MB/Sec"},
        {1073741824, "1.00 GB/Sec"},
        {1099511627776LL, "1.00 TB/Sec"},
        {1125899906842624LL, "0 Bytes/Sec"},  // 1024 TB per second
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpeedText(c.value), c.text) << c.value;
}

TEST(FormatTest, TimeText) {
    const NumberCase cases[] = {
        {0, "00:00:00"},     {59, "00:00:59"},     {61, "00:01:01"}, {3661, "01:01:01"},
        {86399, "23:59:59"}, {90000, "01:00:00"},   // 25 hours: whole days are dropped
        {86400, "00:00:00"}, {360000, "04:00:00"},  // 100 hours
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeText(c.value), c.text) << c.value;
}

TEST(FormatTest, PercentText) {
    EXPECT_EQ(PercentText(0), "0%");
    EXPECT_EQ(PercentText(57), "57%");
    EXPECT_EQ(PercentText(100), "100%");
}

TEST(FormatTest, PositionText) {
    EXPECT_EQ(PositionText(1, 10, "halvard2.part01.rar"), "[1/10]halvard2.part01.rar");
    EXPECT_EQ(PositionText(3, 3, ""), "[3/3]");
    EXPECT_EQ(PositionText(12, 345, "설치.exe"), "[12/345]설치.exe");
}

TEST(FormatTest, FileNameOfUrl) {
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"http://cdn.example.com/fullinst/Setup.exe", "Setup.exe"},
        {"http://cdn.example.com/fullinst/", ""},  // ends in "/"
        {"Setup.exe", ""},                         // no "/"
        {"", ""},
        {"/a", "a"},
        {"http://h/a/b?x=1/2", "2"},  // the last "/" wins, query or not
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileNameOfUrl(c.url), c.name) << c.url;
}

TEST(FormatTest, TextAfterFirstComma) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},        {"no comma", "no comma"},
        {"a,b", "b"},    {"a,b,c", "b,c"},  // only the first comma counts
        {",", ""},       {"abc,", ""},
        {",abc", "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextAfterFirstComma(c.in), c.out) << c.in;
}
