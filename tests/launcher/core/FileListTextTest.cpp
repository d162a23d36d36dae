// The file list's line rules and the installer rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/core/FileListText.h"

namespace {

using launcher::IsInstallerCandidate;
using launcher::ParseFileList;

TEST(FileListText, LineRules) {
    using Urls = std::vector<std::string>;
    const struct {
        const char* name;
        std::string data;
        Urls urls;
    } cases[] = {
        {"CR LF and lone LF", "http://h/a\r\nhttp://h/b\nhttp://h/c\n",
         Urls{"http://h/a", "http://h/b", "http://h/c"}},
        {"lone CR inside a URL", "http://h/a\rb\n", Urls{"http://h/a\rb"}},
        {"final piece of 2 bytes", "http://h/a\nab", Urls{"http://h/a"}},
        {"final piece of 3 bytes", "http://h/a\nabc", Urls{"http://h/a", "abc"}},
        {"final piece without a line end", "http://h/a", Urls{"http://h/a"}},
        {"only line ends", "\r\n\n\r\n\n", Urls{}},
        {"trimmed at both ends", " \thttp://h/a \r\n", Urls{"http://h/a"}},
        {"a line of blanks stays empty", "   \nhttp://h/a\n", Urls{"", "http://h/a"}},
        {"empty input", "", Urls{}},
    };
    for (const auto& c : cases) {
        const launcher::ParsedFileList list = ParseFileList(c.data);
        EXPECT_EQ(list.urls, c.urls) << c.name;
        EXPECT_EQ(list.refusedLines, 0) << c.name;
    }
}

TEST(FileListText, LinesOf1024BytesAreRefusedAnd1023Accepted) {
    const std::string ok(1023, 'a');
    const std::string tooLong(1024, 'b');
    const launcher::ParsedFileList list =
        ParseFileList(ok + "\n" + tooLong + "\r\n" + "http://h/c\n" + tooLong);
    EXPECT_EQ(list.urls, (std::vector<std::string>{ok, "http://h/c"}));
    EXPECT_EQ(list.refusedLines, 2);
}

TEST(FileListText, InstallerRule) {
    const struct {
        const char* path;
        size_t urls;
        bool installer;
    } cases[] = {
        {"/g/readme.txt", 1, true},  // a single file is the installer whatever it is
        {"", 1, true},
        {"/g/setup.exe", 3, true},
        {"/g/Setup.EXE", 3, true},
        {"/g/setup.ExE", 2, true},
        {"/g/data.bin", 3, false},
        {"/g/setup.exe.part", 3, false},
        {"/g/exe", 3, false},
        {"", 3, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsInstallerCandidate(c.path, c.urls), c.installer) << c.path << " " << c.urls;
}

}  // namespace
