// How the demo host cuts a file list into URLs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/demo_host/FileList.h"

namespace {

using Urls = std::vector<std::string>;

TEST(DemoHostFileList, CutsLinesTrimsAndSkipsBlanks) {
    struct Case {
        const char* name;
        std::string bytes;
        Urls urls;
    };
    const std::vector<Case> cases = {
        {"CR LF and lone LF both end lines",
         "http://a/1\r\nhttp://a/2\nhttp://a/3\r\n",
         {"http://a/1", "http://a/2", "http://a/3"}},
        {"a lone CR stays inside its line", "http://a/1\rhttp://a/2\n", {"http://a/1\rhttp://a/2"}},
        {"white space at both ends goes", " \t http://a/1 \t\r\n", {"http://a/1"}},
        {"blank and empty lines are skipped",
         "\r\n   \nhttp://a/1\n\n\t\r\nhttp://a/2\n",
         {"http://a/1", "http://a/2"}},
        {"a last piece of three bytes counts", "http://a/1\nxyz", {"http://a/1", "xyz"}},
        {"a last piece of two bytes is dropped", "http://a/1\nxy", {"http://a/1"}},
        {"a list without any line end", "http://a/only", {"http://a/only"}},
        {"only line ends", "\r\n\n\r\n", {}},
        {"nothing", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileList list = SplitFileList(c.bytes);
        EXPECT_EQ(list.urls, c.urls);
        EXPECT_EQ(list.longLine, 0u);
    }
}

TEST(DemoHostFileList, RefusesLinesOf1024BytesOrMore) {
    const std::string accepted(1023, 'u');
    const std::string refused(1024, 'u');
    EXPECT_EQ(SplitFileList(accepted + "\n").urls, Urls{accepted});
    EXPECT_EQ(SplitFileList(accepted + "\n").longLine, 0u);

    // Line numbers count every line, empty ones too; the first long one is named.
    const FileList list = SplitFileList("http://a/1\r\n\n" + refused + "\r\n" + refused);
    EXPECT_EQ(list.longLine, 3u);
    // The length is that of the line as it stands, before trimming.
    EXPECT_EQ(SplitFileList("  " + std::string(1022, 'u') + "\n").longLine, 1u);
}

}  // namespace
