// Unpacking 7z and zip archives made by the real tools (and, for names no
// tool writes, by libarchive's writer) into a folder.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "UpdateTestSupport.h"
#include "library/actions/C7ZipExtractAction.h"
#include "library/actions/CGZipExtractAction.h"
#include "library/actions/UnpackArchive.h"
#include "library/update/UpdateResult.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

int32_t Unpack(ArchiveType type, const std::string& body, const std::string& folder) {
    return UnpackArchive(type, reinterpret_cast<const uint8_t*>(body.data()),
                         static_cast<int64_t>(body.size()), folder);
}

// A 7z whose entries have exactly these names, written by libarchive.
std::string SevenZipOf(const std::vector<std::pair<std::string, std::string>>& entries) {
    archive* writer = archive_write_new();
    archive_write_set_format_7zip(writer);
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    for (const auto& [name, content] : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
        archive_write_header(writer, entry);
        archive_write_data(writer, content.data(), content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return std::string(buffer.data(), used);
}

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tvxtest::MakeDirs(source_.Path() + "a/b");
        tvxtest::MakeDirs(source_.Path() + "empty/inner");
        tvxtest::WriteFile(source_.Path() + "a/b/c.txt", "nested");
        tvxtest::WriteFile(source_.Path() + "zero.txt", "");
        out_ = root_.Path() + "engine/";
    }
    tvxtest::TempDir source_;
    tvxtest::TempDir root_;
    std::string out_;
};

TEST_F(ExtractTest, SevenZipMakesTheFoldersOfItsFilesButNotEmptyOnes) {
    const std::string body = tvxtest::Make7z(source_.Path(), {"a", "empty", "zero.txt"});
    ASSERT_FALSE(body.empty());
    EXPECT_EQ(Unpack(ArchiveType::SevenZip, body, out_), kUpdateHandled);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "a/b/c.txt"), "nested");
    EXPECT_TRUE(platform::IsDirectory(out_ + "a/b"));
    EXPECT_TRUE(platform::PathExists(out_ + "zero.txt"));
    EXPECT_FALSE(platform::PathExists(out_ + "empty"));
    EXPECT_FALSE(platform::PathExists(out_ + "a/b/c.txt.tvx-part"));
}

TEST_F(ExtractTest, ZipUnpacksItsEntries) {
    const std::string body = tvxtest::MakeZip(source_.Path(), {"a", "zero.txt"});
    ASSERT_FALSE(body.empty());
    EXPECT_EQ(Unpack(ArchiveType::Zip, body, out_), kUpdateHandled);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "a/b/c.txt"), "nested");
    EXPECT_TRUE(platform::PathExists(out_ + "zero.txt"));
}

TEST_F(ExtractTest, BadInputAndTheResultMapping) {
    const std::string sevenZ = tvxtest::Make7z(source_.Path(), {"a"});
    const std::string zip = tvxtest::MakeZip(source_.Path(), {"a"});
    const uint8_t byte = 0;
    C7ZipExtractAction sevenAction;
    CGZipExtractAction zipAction;
    // Empty bodies and missing folders are bad arguments to either action.
    for (IExtractAction* action :
         {static_cast<IExtractAction*>(&sevenAction), static_cast<IExtractAction*>(&zipAction)}) {
        EXPECT_EQ(action->Extract(nullptr, 5, out_), kExtractBadArguments);
        EXPECT_EQ(action->Extract(&byte, 0, out_), kExtractBadArguments);
        EXPECT_EQ(action->Extract(&byte, 1, ""), kExtractBadArguments);
    }
    EXPECT_EQ(sevenAction.Extract(reinterpret_cast<const uint8_t*>("garbage"), 7, out_),
              kExtractNoArchive);
    struct Case {
        const char* what;
        ArchiveType type;
        std::string body;
        int32_t result;
    } cases[] = {
        {"7z of 0 bytes", ArchiveType::SevenZip, "", kUpdateUnpackFailed},
        {"zip of 0 bytes", ArchiveType::Zip, "", kUpdateUnpackFailed},
        {"unknown type", ArchiveType::Unknown, zip, kUpdateUnpackFailed},
        {"truncated 7z", ArchiveType::SevenZip, sevenZ.substr(0, sevenZ.size() / 2),
         kUpdateUnpackFailed},
        {"7z cut before its end header", ArchiveType::SevenZip, sevenZ.substr(0, sevenZ.size() - 1),
         kUpdateUnpackFailed},
        {"truncated zip", ArchiveType::Zip, zip.substr(0, zip.size() - 10), kUpdateUnpackFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Unpack(c.type, c.body, out_), c.result);
        EXPECT_FALSE(platform::PathExists(out_ + "a/b/c.txt"));
    }
}

TEST_F(ExtractTest, NamesThatLeaveTheFolderWriteNothing) {
    const std::string outside = root_.Path() + "evil.txt";
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "/tmp/evil-abs.txt"}) {
        SCOPED_TRACE(name);
        // The hostile entry comes last: what came before it is not kept either.
        const std::string body = SevenZipOf({{"good.txt", "good"}, {name, "evil"}});
        ASSERT_FALSE(body.empty());
        EXPECT_EQ(Unpack(ArchiveType::SevenZip, body, out_), kUpdateUnpackFailed);
        EXPECT_FALSE(platform::PathExists(outside));
        EXPECT_FALSE(platform::PathExists("/tmp/evil-abs.txt"));
        EXPECT_FALSE(platform::PathExists(out_ + "good.txt"));
        EXPECT_FALSE(platform::PathExists(out_ + "good.txt.tvx-part"));
    }
}

TEST_F(ExtractTest, AFailedArchiveLeavesTheInstalledFilesAsTheyWere) {
    tvxtest::MakeDirs(out_ + "a/b");
    tvxtest::WriteFile(out_ + "a/b/c.txt", "installed");
    std::string noise(200000, '\0');
    uint32_t state = 7;
    for (char& ch : noise) {
        state = state * 1103515245u + 12345u;
        ch = static_cast<char>(state >> 24);
    }
    tvxtest::WriteFile(source_.Path() + "a/b/c.txt", noise);
    tvxtest::WriteFile(source_.Path() + "a/d.txt", "second");
    const std::string zip = tvxtest::MakeZip(source_.Path(), {"a"});
    ASSERT_FALSE(zip.empty());
    // Damage the data of the large entry, a little after its local header.
    std::string damaged = zip;
    const size_t name = damaged.find("a/b/c.txt");
    ASSERT_NE(name, std::string::npos);
    damaged[name + 9 + 28 + 5000] ^= 0x55;
    EXPECT_EQ(Unpack(ArchiveType::Zip, damaged, out_), kUpdateUnpackFailed);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "a/b/c.txt"), "installed");
    EXPECT_FALSE(platform::PathExists(out_ + "a/d.txt"));
    EXPECT_FALSE(platform::PathExists(out_ + "a/b/c.txt.tvx-part"));
}

// Compression bombs: an update archive that unpacks to more than the cap is
// refused before its data is decoded, whether it says so in one entry (a
// sparse file of zeros packed by the real tools) or only in the sum of its
// entries; what it wrote is not kept.
TEST_F(ExtractTest, ArchivesPastTheUnpackCapAreRefused) {
    const std::string bomb = source_.Path() + "bomb.bin";
    ASSERT_TRUE(tvxtest::WriteFile(bomb, ""));
    ASSERT_EQ(::truncate(bomb.c_str(), static_cast<off_t>(kMaxUpdateUnpackBytes + 1)), 0);
    const std::string archives = root_.Path() + "archives/";
    ASSERT_TRUE(tvxtest::MakeDirs(archives));
    ASSERT_EQ(tvxtest::Shell("cd " + tvxtest::Quoted(source_.Path()) + " && 7zz a -t7z -bd -mx1 " +
                             tvxtest::Quoted(archives + "b.7z") +
                             " bomb.bin >/dev/null && zip -q -X -1 " +
                             tvxtest::Quoted(archives + "b.zip") + " bomb.bin"),
              0);
    for (const auto& [type, file] :
         {std::pair{ArchiveType::SevenZip, "b.7z"}, std::pair{ArchiveType::Zip, "b.zip"}}) {
        SCOPED_TRACE(file);
        const std::string body = tvxtest::ReadFile(archives + file);
        ASSERT_FALSE(body.empty());
        ASSERT_LT(body.size(), 2u << 20);
        EXPECT_EQ(Unpack(type, body, out_), kUpdateUnpackFailed);
        EXPECT_FALSE(platform::PathExists(out_ + "bomb.bin"));
        EXPECT_FALSE(platform::PathExists(out_ + "bomb.bin.tvx-part"));
    }

    // Entries that each fit, but not together.
    const std::string body = SevenZipOf(
        {{"a.bin", std::string(4000, 'a')}, {"b.bin", std::string(4000, 'b')}, {"c.bin", "c"}});
    const auto* data = reinterpret_cast<const uint8_t*>(body.data());
    const auto size = static_cast<int64_t>(body.size());
    EXPECT_EQ(SevenZipUnpack(out_, data, size, 8000), kExtractFailed);
    EXPECT_FALSE(platform::PathExists(out_ + "a.bin"));
    EXPECT_FALSE(platform::PathExists(out_ + "b.bin.tvx-part"));
    EXPECT_EQ(SevenZipUnpack(out_, data, size, 8001), kExtractOk);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "c.bin"), "c");
}

TEST(ArchiveTypeTest, ExtensionInAnyCase) {
    const std::pair<const char*, ArchiveType> cases[] = {
        {"http://u/e.7z", ArchiveType::SevenZip},
        {"http://u/e.7Z", ArchiveType::SevenZip},
        {"http://u/e.ZIP", ArchiveType::Zip},
        {"http://u/e.tar", ArchiveType::Unknown},
        {"http://u/e", ArchiveType::Unknown},
        {".7z", ArchiveType::Unknown},
        {"", ArchiveType::Unknown},
        {"a.7z.zip", ArchiveType::Zip},
    };
    for (const auto& [url, type] : cases)
        EXPECT_EQ(GetArchiveType(url), type) << url;
}

}  // namespace
