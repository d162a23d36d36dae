// The remembered folder's INI file: the text edit as a table, then the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "launcher/core/DownloadPathStore.h"
#include "support/TempDir.h"

using namespace launcher;

TEST(DownloadPathStoreTest, IniTextKeepsOtherLinesAndReplacesTheKey) {
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"", "halvard2=/d/\n"},
        {"halvard2=/old/\n", "halvard2=/d/\n"},
        {"other=/x/\nhalvard2 = /old/\n", "other=/x/\nhalvard2=/d/\n"},
        {"other=/x/", "other=/x/\nhalvard2=/d/\n"},
        {"halvard2=/a/\nhalvard2=/b/\n", "halvard2=/d/\n"},  // a duplicate goes
        {"halvard22=/x/\n", "halvard22=/x/\nhalvard2=/d/\n"},
        // Our keys stay before the first section; the section keeps its own.
        {"[Other]\nhalvard2=/s/\n", "halvard2=/d/\n[Other]\nhalvard2=/s/\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IniWithValue(c.before, "halvard2", "/d/"), c.after) << c.before;
}

TEST(DownloadPathStoreTest, FileUnderTheUsersConfiguration) {
    const std::string ini =
        std::string(getenv("XDG_CONFIG_HOME")) + "/Velmora Inc./DownloadPath.ini";
    EXPECT_EQ(DownloadPathIniPath(), ini);
    ASSERT_TRUE(RememberFolder("halvard2", "/home/u/Download/halvard2/"));
    EXPECT_EQ(tvxtest::ReadFile(ini), "halvard2=/home/u/Download/halvard2/\n");
    ASSERT_TRUE(RememberFolder("halvard2", "/srv/게임/"));
    ASSERT_TRUE(RememberFolder("other", "/o/"));
    EXPECT_EQ(tvxtest::ReadFile(ini), "halvard2=/srv/게임/\nother=/o/\n");
}

TEST(DownloadPathStoreTest, WhatCannotBeStoredIsRefusedAndTheFileKept) {
    tvxtest::TempDir dir;
    const std::string ini = dir.Path() + "DownloadPath.ini";
    ASSERT_TRUE(RememberFolderIn(ini, "halvard2", "/ok/"));
    EXPECT_FALSE(RememberFolderIn(ini, "halvard2", "/two\nlines/"));
    EXPECT_FALSE(RememberFolderIn(ini, "a=b", "/x/"));
    EXPECT_FALSE(RememberFolderIn(ini, "", "/x/"));
    EXPECT_EQ(tvxtest::ReadFile(ini), "halvard2=/ok/\n");
    // A folder that cannot be made: a file stands where it would go.
    ASSERT_TRUE(tvxtest::WriteFile(dir.Path() + "file", "x"));
    EXPECT_FALSE(RememberFolderIn(dir.Path() + "file/DownloadPath.ini", "halvard2", "/x/"));
}
