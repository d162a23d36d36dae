// tvx-sign, the publisher's tool: the metadata it writes is what the client
// accepts, bound to the list's bytes and its files; bad input is refused
// with a message and nothing written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/TempDir.h"
#include "util/ReleaseMetadata.h"

namespace {

int RunSign(const std::string& arguments) {
    return std::system((std::string(TVX_SIGN_TOOL) + " " + arguments + " >/dev/null 2>&1").c_str());
}

TEST(SignTool, KeygenThenAFileListTheClientAccepts) {
    tvxtest::TempDir dir("tvx-sign-");
    const std::string d = dir.Path();
    ASSERT_EQ(RunSign("keygen --private " + d + "k.pem --public " + d + "k.pub"), 0);
    ASSERT_TRUE(tvxtest::WriteFile(d + "a.bin", "alpha"));
    ASSERT_TRUE(tvxtest::WriteFile(d + "Setup.exe", "#!/bin/sh\n"));
    const std::string list = "http://h/x/a.bin\r\n  http://h/y/Setup.exe  \n\n";
    ASSERT_TRUE(tvxtest::WriteFile(d + "filelist.txt", list));
    ASSERT_EQ(RunSign("file-list --key " + d + "k.pem --list " + d + "filelist.txt --files " + d +
                  " --version 12 --valid-days 2"),
              0);
    ReleaseMetadata metadata;
    ASSERT_EQ(VerifyReleaseMetadata(tvxtest::ReadFile(d + "filelist.txt.release"),
                                    tvxtest::ReadFile(d + "k.pub"), ReleaseKind::kFileList, list,
                                    0, metadata),
              ReleaseCheck::kAccepted);
    EXPECT_EQ(metadata.version, 12u);
    ASSERT_EQ(metadata.files.size(), 2u);
    ASSERT_NE(metadata.Find("http://h/y/Setup.exe"), nullptr);
    EXPECT_EQ(metadata.Find("http://h/x/a.bin")->sha256, CSha256::Of("alpha"));
    EXPECT_EQ(metadata.Find("http://h/x/a.bin")->size, 5);
}

TEST(SignTool, BadInputIsRefusedAndWritesNothing) {
    tvxtest::TempDir dir("tvx-sign-");
    const std::string d = dir.Path();
    ASSERT_EQ(RunSign("keygen --private " + d + "k.pem --public " + d + "k.pub"), 0);
    ASSERT_TRUE(tvxtest::WriteFile(d + "filelist.txt", "http://h/missing.bin\n"));
    ASSERT_TRUE(tvxtest::WriteFile(d + "ok.txt", "http://h/k.pub\n"));
    const std::string sign = "file-list --key " + d + "k.pem --files " + d;
    const struct {
        const char* name;
        std::string arguments;
    } cases[] = {
        {"a listed file is missing", sign + " --list " + d + "filelist.txt --version 1 --valid-days 1"},
        {"a public key to sign with", "file-list --key " + d + "k.pub --files " + d + " --list " + d +
                                          "ok.txt --version 1 --valid-days 1"},
        {"no version", sign + " --list " + d + "ok.txt --valid-days 1"},
        {"a version that is no number", sign + " --list " + d + "ok.txt --version 1a --valid-days 1"},
        {"both expiries", sign + " --list " + d + "ok.txt --version 1 --valid-days 1 --expires 9"},
        {"unknown command", "sign-everything"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(RunSign(c.arguments), 0);
    }
    EXPECT_TRUE(tvxtest::ReadFile(d + "filelist.txt.release").empty());
    EXPECT_TRUE(tvxtest::ReadFile(d + "ok.txt.release").empty());
}

}  // namespace
