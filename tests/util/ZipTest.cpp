// The zip extraction wrapper on archives made at run time by the real
// `zip` command and by Python's zipfile (tests/util/make_archives.py).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Directory.h"
#include "support/TempDir.h"
#include "util/Zip.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kMtime = 1600000000;
constexpr int64_t kAtime = 1600000500;
constexpr int64_t kUtMtime = 1500000000;
constexpr int64_t kUtAtime = 1500000100;
constexpr int64_t kUtCtime = 1400000000;

uint64_t FileTime(int64_t unixSeconds) {
    return static_cast<uint64_t>(unixSeconds) * 10000000ULL + 116444736000000000ULL;
}

// One zip archive read into memory, open for the life of the object.
class Archive {
  public:
    explicit Archive(const std::string& path, const char* password = nullptr)
        : bytes_(tvxtest::ReadFile(path)) {
        handle_ = ZipOpenMemory(bytes_.data(), static_cast<uint32_t>(bytes_.size()), password);
    }
    ~Archive() {
        if (handle_)
            ZipClose(handle_);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    ZipHandle handle() const { return handle_; }
    int Count() const {
        ZipEntryInfo info;
        return ZipGetEntry(handle_, -1, &info) == kZipOk ? info.index : -1;
    }
    // Index of the entry whose cleaned name is name, -1 if none.
    int Find(const std::string& name) const {
        for (int i = 0; i < Count(); ++i) {
            ZipEntryInfo info;
            if (ZipGetEntry(handle_, i, &info) == kZipOk && name == info.name)
                return i;
        }
        return -1;
    }
    ZipEntryInfo Entry(int index) const {
        ZipEntryInfo info;
        EXPECT_EQ(ZipGetEntry(handle_, index, &info), kZipOk) << index;
        return info;
    }
    // Extracts entry index to folder + its cleaned name, as Parts 3.3 and 1.6 do.
    ZipResult ExtractInto(int index, const std::string& folder) const {
        ZipEntryInfo info;
        const ZipResult r = ZipGetEntry(handle_, index, &info);
        if (r != kZipOk)
            return r;
        return ZipExtractEntry(handle_, index, (folder + info.name).c_str());
    }

  private:
    std::string bytes_;
    ZipHandle handle_ = nullptr;
};

class ZipTest : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);  // MS-DOS times are local times
        tzset();
        umask(022);
        ASSERT_FALSE(dir_.Path().empty());
        archives_ = dir_.Path() + "archives/";
        const std::string command = "python3 '" TVX_SOURCE_ROOT "/tests/util/make_archives.py' '" +
                                    archives_ + "' > '" + dir_.Path() + "make.log' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << tvxtest::ReadFile(dir_.Path() + "make.log");
        out_ = dir_.Path() + "out/";
        ASSERT_TRUE(tvxtest::MakeDirs(out_));
    }

    std::string Path(const char* name) const { return archives_ + name; }

    tvxtest::TempDir dir_{"tvx-zip-"};
    std::string archives_;
    std::string out_;
};

struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

}  // namespace

TEST(ZipNames, Cleaning) {
    const struct {
        const char* stored;
        const char* cleaned;
    } cases[] = {
        {"C:\\x\\..\\y.txt", "y.txt"},
        {"/abs/path.txt", "abs/path.txt"},
        {"a/b/../c.txt", "c.txt"},
        {"a/../../c.txt", "../c.txt"},  // a ".." beginning left over is not changed
        {"../c.txt", "../c.txt"},
        {"..\\c.txt", "..\\c.txt"},
        {"plain.txt", "plain.txt"},
        {"dir/sub/file", "dir/sub/file"},
        {"\\\\server\\share\\f", "server\\share\\f"},
        {"D:/drive.txt", "drive.txt"},
        {"C:", ""},
        {"/", ""},
        {"", ""},
        {"x/..", "x/.."},
        {"a\\..\\b/../c\\../d/..\\e", "e"},
        // "\..\" is searched before "/../" even when it stands later.
        {"p/../q\\..\\r", "r"},
        {"ok/../../../../tmp/slip.txt", "../tmp/slip.txt"},
        {"a:/b:/c", "c"},  // rules repeat: "a:" then "/" then "b:" then "/"
        {"x/../C:\\y", "y"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZipCleanEntryName(c.stored), c.cleaned) << c.stored;
}

TEST(ZipNames, Safety) {
    const struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"y.txt", true},     {"abs/path.txt", true}, {"a/b/c", true},   {"", true},
        {"..a/b", true},     {"a..b", true},         {"a/.../b", true}, {"./a", true},
        {"../c.txt", false}, {"..\\c.txt", false},   {"..", false},     {"x/..", false},
        {"x\\..", false},    {"/abs", false},        {"\\abs", false},  {"a/../b", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZipIsSafeEntryName(c.name), c.safe) << c.name;
}

TEST(ZipNames, ResultTexts) {
    const struct {
        ZipResult code;
        const char* text;
    } cases[] = {
        {0, "Success"},
        {0x200, "Couldn't create/open file"},
        {0x400, "Error writing to file"},
        {0x700, "Zipfile is corrupt or not a zipfile"},
        {0x800, "Error reading file"},
        {0x1000, "Correct password required"},
        {0x10000, "Caller: faulty arguments"},
        {0x80000, "Caller: mixing creation and opening of zip"},
        {0x5000000, "Zip-bug: an internal error during flation"},
        {0x100, "unknown zip result code"},
        {0xFFFFFFFF, "unknown zip result code"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(ZipResultText(c.code), c.text) << std::hex << c.code;
}

TEST_F(ZipTest, CountsTwentyThreeEntriesThroughIndexMinusOne) {
    Archive a(Path("py_23.zip"));
    ASSERT_NE(a.handle(), nullptr);
    ZipEntryInfo info;
    std::memset(static_cast<void*>(&info), 0x5A, sizeof info);
    ASSERT_EQ(ZipGetEntry(a.handle(), -1, &info), kZipOk);
    EXPECT_EQ(info.index, 23);
    // Zeros elsewhere.
    ZipEntryInfo zero;
    std::memset(static_cast<void*>(&zero), 0, sizeof zero);
    zero.index = 23;
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);

    EXPECT_EQ(ZipGetEntry(a.handle(), 22, &info), kZipOk);
    EXPECT_STREQ(info.name, "f22.txt");
    EXPECT_EQ(info.index, 22);
    EXPECT_EQ(ZipGetEntry(a.handle(), 23, &info), kZipArgs);
    EXPECT_EQ(ZipLastResult(), kZipArgs);
    EXPECT_EQ(ZipGetEntry(a.handle(), -2, &info), kZipArgs);
    // Backwards and forwards.
    EXPECT_EQ(ZipGetEntry(a.handle(), 3, &info), kZipOk);
    EXPECT_STREQ(info.name, "f03.txt");
    EXPECT_EQ(ZipLastResult(), kZipOk);
    EXPECT_EQ(ZipGetEntry(a.handle(), 17, &info), kZipOk);
    EXPECT_STREQ(info.name, "f17.txt");
    EXPECT_EQ(ZipGetEntry(a.handle(), 0, &info), kZipOk);
    EXPECT_STREQ(info.name, "f00.txt");
    EXPECT_EQ(ZipExtractEntry(a.handle(), 23, (out_ + "x").c_str()), kZipArgs);
    EXPECT_EQ(ZipExtractEntry(a.handle(), -1, (out_ + "x").c_str()), kZipArgs);
    // Every entry, in order and out of order, lands with its content.
    for (int i : {22, 0, 11, 5, 21}) {
        ASSERT_EQ(a.ExtractInto(i, out_), kZipOk) << i;
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.txt", i);
        EXPECT_EQ(tvxtest::ReadFile(out_ + name), "file " + std::to_string(i) + "\n");
    }
}

TEST_F(ZipTest, TwoQueriesOfTheSameIndexGiveTheIdenticalRecord) {
    Archive a(Path("py_mixed.zip"));
    ZipEntryInfo first, second, other;
    std::memset(static_cast<void*>(&first), 1, sizeof first);
    std::memset(static_cast<void*>(&second), 2, sizeof second);
    ASSERT_EQ(ZipGetEntry(a.handle(), 7, &first), kZipOk);
    ASSERT_EQ(ZipGetEntry(a.handle(), 7, &second), kZipOk);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
    ASSERT_EQ(ZipGetEntry(a.handle(), 2, &other), kZipOk);
    ASSERT_EQ(ZipGetEntry(a.handle(), 7, &second), kZipOk);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
}

TEST_F(ZipTest, OpenFailures) {
    EXPECT_EQ(ZipOpenMemory(nullptr, 10, nullptr), nullptr);
    EXPECT_EQ(ZipLastResult(), kZipArgs);

    const std::string truncated = tvxtest::ReadFile(Path("truncated.zip"));
    ASSERT_FALSE(truncated.empty());
    EXPECT_EQ(ZipOpenMemory(truncated.data(), static_cast<uint32_t>(truncated.size()), nullptr),
              nullptr);
    EXPECT_EQ(ZipLastResult(), kZipNoFile);

    EXPECT_EQ(ZipOpenMemory("", 0, nullptr), nullptr);
    EXPECT_EQ(ZipLastResult(), kZipNoFile);
    const std::string junk(4096, 'j');
    EXPECT_EQ(ZipOpenMemory(junk.data(), static_cast<uint32_t>(junk.size()), nullptr), nullptr);
    EXPECT_EQ(ZipLastResult(), kZipNoFile);

    // The full archive opens; the last result follows.
    Archive a(Path("py_mixed.zip"));
    EXPECT_NE(a.handle(), nullptr);
    EXPECT_EQ(ZipLastResult(), kZipOk);
}

TEST_F(ZipTest, HandleChecks) {
    ZipEntryInfo info;
    EXPECT_EQ(ZipGetEntry(nullptr, 0, &info), kZipArgs);
    EXPECT_EQ(ZipExtractEntry(nullptr, 0, "x"), kZipArgs);
    EXPECT_EQ(ZipClose(nullptr), kZipArgs);
    ZipHandleData other;
    other.kind = 2;  // not a reading handle
    EXPECT_EQ(ZipGetEntry(&other, 0, &info), kZipMode);
    EXPECT_EQ(ZipLastResult(), kZipMode);
    EXPECT_EQ(ZipExtractEntry(&other, 0, "x"), kZipMode);
    EXPECT_EQ(ZipClose(&other), kZipMode);
    Archive a(Path("py_23.zip"));
    EXPECT_EQ(ZipGetEntry(a.handle(), 0, nullptr), kZipArgs);
    EXPECT_EQ(ZipExtractEntry(a.handle(), 0, nullptr), kZipArgs);
    EXPECT_EQ(ZipExtractEntry(a.handle(), 0, ""), kZipNoFile);
}

TEST_F(ZipTest, ZipCommandArchiveExtractsWithModesAndTimes) {
    Archive a(Path("zipcmd.zip"));
    ASSERT_NE(a.handle(), nullptr);
    const int n = a.Count();
    ASSERT_GE(n, 8);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(a.ExtractInto(i, out_), kZipOk) << a.Entry(i).name;

    const std::string src = archives_ + "src/";
    // Contents match the zipped files, stored or deflated.
    for (const char* f :
         {"hello.txt", "pic.jpg", "sub/readonly.txt", "sub/deeper/data.bin", "tool.sh"}) {
        const struct stat st = Stat(out_ + f);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << f;
        // Times from the "UT" field: last write and last access.
        EXPECT_EQ(st.st_mtim.tv_sec, kMtime) << f;
        EXPECT_EQ(st.st_atim.tv_sec, kAtime) << f;
        EXPECT_EQ(tvxtest::ReadFile(out_ + f), tvxtest::ReadFile(src + f)) << f;
    }
    // The stored and the deflated entry.
    const ZipEntryInfo pic = a.Entry(a.Find("pic.jpg"));
    EXPECT_EQ(pic.compressedSize, pic.uncompressedSize);
    EXPECT_EQ(pic.uncompressedSize, 5000u);
    const ZipEntryInfo hello = a.Entry(a.Find("hello.txt"));
    EXPECT_LT(hello.compressedSize, hello.uncompressedSize);
    EXPECT_EQ(hello.attributes, kZipAttrArchive);
    EXPECT_EQ(hello.lastWriteTime, FileTime(kMtime));
    EXPECT_EQ(hello.lastAccessTime, FileTime(kAtime));
    EXPECT_EQ(hello.mode, 0644u);

    // Read-only: the attribute and a mode without write bits.
    const ZipEntryInfo ro = a.Entry(a.Find("sub/readonly.txt"));
    EXPECT_EQ(ro.attributes, kZipAttrArchive | kZipAttrReadOnly);
    EXPECT_EQ(Stat(out_ + "sub/readonly.txt").st_mode & 0777, 0444u);
    // An executable stays executable.
    EXPECT_EQ(Stat(out_ + "tool.sh").st_mode & 0777, 0755u);
    // Folder entries, also an empty one.
    const int empty = a.Find("empty/");
    ASSERT_GE(empty, 0);
    EXPECT_EQ(a.Entry(empty).attributes & kZipAttrDirectory, kZipAttrDirectory);
    EXPECT_TRUE(S_ISDIR(Stat(out_ + "empty").st_mode));
    EXPECT_TRUE(fs::is_empty(out_ + "empty"));
}

TEST_F(ZipTest, PythonArchiveRecords) {
    Archive a(Path("py_mixed.zip"));
    ASSERT_NE(a.handle(), nullptr);
    EXPECT_EQ(a.Count(), 11);

    const ZipEntryInfo stored = a.Entry(a.Find("stored.txt"));
    EXPECT_EQ(stored.compressedSize, 1000u);
    EXPECT_EQ(stored.uncompressedSize, 1000u);
    const ZipEntryInfo deflated = a.Entry(a.Find("deflated.txt"));
    EXPECT_EQ(deflated.uncompressedSize, 20000u);
    EXPECT_LT(deflated.compressedSize, 2000u);

    const ZipEntryInfo folder = a.Entry(a.Find("folder/"));
    EXPECT_EQ(folder.attributes, kZipAttrArchive | kZipAttrDirectory);

    const ZipEntryInfo ro = a.Entry(a.Find("readonly.txt"));
    EXPECT_EQ(ro.attributes, kZipAttrArchive | kZipAttrReadOnly);
    EXPECT_EQ(ro.mode, 0444u);
    // MS-DOS host: the DOS bits as stored.
    const ZipEntryInfo dos = a.Entry(a.Find("dos_ro.txt"));
    EXPECT_EQ(dos.attributes, kZipAttrArchive | kZipAttrReadOnly | kZipAttrHidden);
    EXPECT_EQ(dos.mode, 0444u);
    EXPECT_EQ(a.Entry(a.Find("run.sh")).mode, 0755u);
    // A Unix entry with no mode stored (only the MS-DOS archive bit) counts as
    // read-only: the Unix owner write bit is clear.
    const ZipEntryInfo nomode = a.Entry(a.Find("nomode.txt"));
    EXPECT_EQ(nomode.attributes, kZipAttrArchive | kZipAttrReadOnly);
    EXPECT_EQ(nomode.mode, 0444u);

    // MS-DOS date and time as local time (UTC here): 2020-05-17 13:45:30.
    const ZipEntryInfo dt = a.Entry(a.Find("dostime.txt"));
    EXPECT_EQ(dt.lastWriteTime, FileTime(1589723130));
    EXPECT_EQ(dt.lastAccessTime, FileTime(1589723130));
    EXPECT_EQ(dt.creationTime, FileTime(1589723130));

    // The "UT" field with all three times.
    const ZipEntryInfo ut = a.Entry(a.Find("ut.txt"));
    EXPECT_EQ(ut.lastWriteTime, FileTime(kUtMtime));
    EXPECT_EQ(ut.lastAccessTime, FileTime(kUtAtime));
    EXPECT_EQ(ut.creationTime, FileTime(kUtCtime));
    ASSERT_EQ(a.ExtractInto(a.Find("ut.txt"), out_), kZipOk);
    EXPECT_EQ(Stat(out_ + "ut.txt").st_mtim.tv_sec, kUtMtime);
    EXPECT_EQ(Stat(out_ + "ut.txt").st_atim.tv_sec, kUtAtime);

    // A UTF-8 name.
    const int korean = a.Find("스킨/배경.txt");
    ASSERT_GE(korean, 0);
    ASSERT_EQ(a.ExtractInto(korean, out_), kZipOk);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "스킨/배경.txt"), "한글 이름\n");

    for (int i = 0; i < a.Count(); ++i)
        EXPECT_EQ(a.ExtractInto(i, out_), kZipOk) << a.Entry(i).name;
    EXPECT_EQ(tvxtest::ReadFile(out_ + "stored.txt").size(), 1000u);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "deflated.txt").size(), 20000u);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "folder/inner.txt").size(), 100u);
}

TEST_F(ZipTest, ExtractingReadOnlyOverReadOnlyFails) {
    Archive a(Path("py_mixed.zip"));
    const int ro = a.Find("readonly.txt");
    const std::string dest = out_ + "readonly.txt";
    ASSERT_EQ(ZipExtractEntry(a.handle(), ro, dest.c_str()), kZipOk);
    EXPECT_EQ(Stat(dest).st_mode & 0777, 0444u);
    EXPECT_EQ(ZipExtractEntry(a.handle(), ro, dest.c_str()), kZipNoFile);
    EXPECT_EQ(ZipLastResult(), kZipNoFile);
    // Any entry over an existing read-only file fails the same way.
    EXPECT_EQ(ZipExtractEntry(a.handle(), a.Find("stored.txt"), dest.c_str()), kZipNoFile);
    EXPECT_EQ(tvxtest::ReadFile(dest), "read only\n");
}

TEST_F(ZipTest, ExtractingReplacesAWritableFileAndASymlink) {
    Archive a(Path("py_mixed.zip"));
    const std::string dest = out_ + "stored.txt";
    ASSERT_TRUE(tvxtest::WriteFile(dest, "old content that is longer than nothing"));
    ASSERT_EQ(::chmod(dest.c_str(), 0600), 0);
    ASSERT_EQ(ZipExtractEntry(a.handle(), a.Find("stored.txt"), dest.c_str()), kZipOk);
    EXPECT_EQ(tvxtest::ReadFile(dest).size(), 1000u);
    EXPECT_EQ(Stat(dest).st_mode & 0777, 0644u);  // the entry's mode, not the old file's

    // A symlink planted at the destination is replaced, its target untouched.
    const std::string outside = dir_.Path() + "outside.txt";
    ASSERT_TRUE(tvxtest::WriteFile(outside, "keep"));
    const std::string link = out_ + "deflated.txt";
    ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
    ASSERT_EQ(ZipExtractEntry(a.handle(), a.Find("deflated.txt"), link.c_str()), kZipOk);
    EXPECT_TRUE(S_ISREG(Stat(link).st_mode));
    EXPECT_EQ(tvxtest::ReadFile(outside), "keep");
    // A folder in the way cannot be replaced.
    ASSERT_TRUE(tvxtest::MakeDirs(out_ + "busy"));
    EXPECT_EQ(ZipExtractEntry(a.handle(), a.Find("stored.txt"), (out_ + "busy").c_str()),
              kZipNoFile);
}

TEST_F(ZipTest, MissingFoldersAlongTheDestinationAreCreated) {
    Archive a(Path("zipcmd.zip"));
    const int pic = a.Find("pic.jpg");
    const std::string skin = out_ + "skin/";
    ASSERT_FALSE(fs::exists(skin));
    ASSERT_EQ(ZipExtractEntry(a.handle(), pic, (skin + "sub/pic.jpg").c_str()), kZipOk);
    EXPECT_TRUE(fs::is_directory(skin));
    EXPECT_TRUE(fs::is_directory(skin + "sub"));
    EXPECT_EQ(tvxtest::ReadFile(skin + "sub/pic.jpg").size(), 5000u);
    // "\" separators are taken as "/".
    ASSERT_EQ(ZipExtractEntry(a.handle(), pic, (out_ + "win\\sub2\\pic.jpg").c_str()), kZipOk);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "win/sub2/pic.jpg").size(), 5000u);
}

TEST_F(ZipTest, DirectoryEntryCreatesTheFolderOnly) {
    Archive a(Path("zipcmd.zip"));
    const int sub = a.Find("sub/deeper/");
    ASSERT_GE(sub, 0);
    const std::string dest = out_ + "made/here/";
    ASSERT_EQ(ZipExtractEntry(a.handle(), sub, dest.c_str()), kZipOk);
    EXPECT_TRUE(fs::is_directory(dest));
    EXPECT_TRUE(fs::is_empty(dest));
    // Without a trailing separator as well.
    ASSERT_EQ(ZipExtractEntry(a.handle(), sub, (out_ + "other").c_str()), kZipOk);
    EXPECT_TRUE(fs::is_directory(out_ + "other"));
}

TEST_F(ZipTest, RelativeDestinationsGoBelowTheFolderCurrentAtOpen) {
    const std::string first = out_ + "first/";
    const std::string second = out_ + "second/";
    ASSERT_TRUE(tvxtest::MakeDirs(first));
    ASSERT_TRUE(tvxtest::MakeDirs(second));
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(first.c_str()), 0);
    {
        Archive a(Path("py_23.zip"));
        ASSERT_EQ(::chdir(second.c_str()), 0);
        EXPECT_EQ(ZipExtractEntry(a.handle(), 4, "rel/f.txt"), kZipOk);
    }
    ASSERT_EQ(::chdir(saved), 0);
    EXPECT_EQ(tvxtest::ReadFile(first + "rel/f.txt"), "file 4\n");
    EXPECT_FALSE(fs::exists(second + "rel"));
}

TEST_F(ZipTest, HostileNamesAreCleanedAndZipSlipsRefused) {
    Archive a(Path("py_names.zip"));
    ASSERT_NE(a.handle(), nullptr);
    const struct {
        const char* cleaned;
        ZipResult result;
        const char* lands;  // below out_, when extracted
    } cases[] = {
        {"../evil.txt", kZipNoFile, nullptr},
        {"abs/path.txt", kZipOk, "abs/path.txt"},
        {"y.txt", kZipOk, "y.txt"},
        {"c.txt", kZipOk, "c.txt"},
        {"../c.txt", kZipNoFile, nullptr},
        {"..\\win.txt", kZipNoFile, nullptr},
        {"x/..", kZipNoFile, nullptr},
        {"../tmp/slip.txt", kZipNoFile, nullptr},
        {"double/slash.txt", kZipOk, "double/slash.txt"},
        {"drive.txt", kZipOk, "drive.txt"},
    };
    ASSERT_EQ(a.Count(), static_cast<int>(std::size(cases)));
    const std::string inner = out_ + "inner/";
    ASSERT_TRUE(tvxtest::MakeDirs(inner));
    for (int i = 0; i < a.Count(); ++i) {
        const ZipEntryInfo info = a.Entry(i);
        EXPECT_STREQ(info.name, cases[i].cleaned) << i;
        EXPECT_EQ(ZipExtractEntry(a.handle(), i, (inner + info.name).c_str()), cases[i].result)
            << info.name;
        if (cases[i].lands) {
            EXPECT_TRUE(fs::is_regular_file(inner + cases[i].lands)) << cases[i].lands;
        }
    }
    // Nothing was written next to the destination folder.
    std::vector<std::string> beside;
    for (const auto& e : fs::directory_iterator(out_))
        beside.push_back(e.path().filename().string());
    EXPECT_EQ(beside, std::vector<std::string>{"inner"});
    EXPECT_FALSE(fs::exists(dir_.Path() + "tmp"));
    // A destination that steps out with ".." is refused too.
    EXPECT_EQ(ZipExtractEntry(a.handle(), 2, (inner + "../escaped.txt").c_str()), kZipNoFile);
    EXPECT_EQ(ZipExtractEntry(a.handle(), 2, (inner + "..\\escaped.txt").c_str()), kZipNoFile);
    EXPECT_FALSE(fs::exists(out_ + "escaped.txt"));
    // "..." and names merely containing dots are fine.
    EXPECT_EQ(ZipExtractEntry(a.handle(), 2, (inner + "...").c_str()), kZipOk);
    EXPECT_EQ(ZipExtractEntry(a.handle(), 2, (inner + "a..b").c_str()), kZipOk);
}

TEST_F(ZipTest, EncryptedEntryNeedsItsPassword) {
    {
        Archive a(Path("encrypted.zip"));
        ASSERT_NE(a.handle(), nullptr);
        ASSERT_EQ(a.Count(), 1);
        EXPECT_STREQ(a.Entry(0).name, "hello.txt");
        EXPECT_EQ(ZipExtractEntry(a.handle(), 0, (out_ + "hello.txt").c_str()), kZipPassword);
        EXPECT_EQ(ZipLastResult(), kZipPassword);
    }
    {
        Archive a(Path("encrypted.zip"), "wrong");
        EXPECT_EQ(ZipExtractEntry(a.handle(), 0, (out_ + "hello2.txt").c_str()), kZipPassword);
    }
    {
        // The right password passes the header check, but the system's minizip
        // cannot decrypt: still 0x1000, never garbage written as the content.
        Archive a(Path("encrypted.zip"), "secret");
        EXPECT_EQ(ZipExtractEntry(a.handle(), 0, (out_ + "hello3.txt").c_str()), kZipPassword);
        EXPECT_NE(tvxtest::ReadFile(out_ + "hello3.txt"),
                  tvxtest::ReadFile(archives_ + "src/hello.txt"));
    }
}

TEST_F(ZipTest, CorruptArchives) {
    {
        Archive a(Path("badlocal.zip"));
        ASSERT_NE(a.handle(), nullptr);
        ZipEntryInfo info;
        EXPECT_EQ(ZipGetEntry(a.handle(), 0, &info), kZipCorrupt);
        EXPECT_EQ(ZipExtractEntry(a.handle(), 0, (out_ + "a").c_str()), kZipCorrupt);
    }
    {
        Archive a(Path("badextra.zip"));
        ASSERT_NE(a.handle(), nullptr);
        ZipEntryInfo info;
        EXPECT_EQ(ZipGetEntry(a.handle(), 0, &info), kZipRead);
        EXPECT_EQ(ZipLastResult(), kZipRead);
    }
    {
        Archive a(Path("baddata.zip"));
        ASSERT_NE(a.handle(), nullptr);
        EXPECT_EQ(a.Entry(0).uncompressedSize, 5000u);
        EXPECT_EQ(ZipExtractEntry(a.handle(), 0, (out_ + "b").c_str()), kZipFlate);
    }
    {
        Archive a(Path("badcrc.zip"));
        ASSERT_NE(a.handle(), nullptr);
        EXPECT_EQ(ZipExtractEntry(a.handle(), 0, (out_ + "c").c_str()), kZipFlate);
    }
}

TEST_F(ZipTest, OddLocalExtraFields) {
    Archive a(Path("oddextra.zip"));
    ASSERT_EQ(a.Count(), 3);
    const uint64_t dos = FileTime(1589723130);  // 2020-05-17 13:45:30, UTC here
    const ZipEntryInfo over = a.Entry(0);       // a block running past the field: ignored
    EXPECT_EQ(over.lastWriteTime, dos);
    EXPECT_EQ(over.creationTime, dos);
    const ZipEntryInfo shortUt = a.Entry(1);  // only the times that are there
    EXPECT_EQ(shortUt.lastWriteTime, FileTime(kUtMtime));
    EXPECT_EQ(shortUt.lastAccessTime, dos);
    EXPECT_EQ(shortUt.creationTime, dos);
    const ZipEntryInfo second = a.Entry(2);  // "UT" as the second block
    EXPECT_EQ(second.lastWriteTime, FileTime(kUtMtime));
    EXPECT_EQ(second.lastAccessTime, dos);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a.ExtractInto(i, out_), kZipOk) << i;
}

TEST_F(ZipTest, TruncatedAfterTheCentralDirectoryOffsetStillFailsCleanly) {
    // Every prefix of a real archive either opens or fails with 0x200; entries
    // of the ones that open either read or fail with a code, never crash.
    const std::string whole = tvxtest::ReadFile(Path("py_mixed.zip"));
    for (std::size_t n = 0; n < whole.size(); n += 37) {
        ZipHandle h = ZipOpenMemory(whole.data(), static_cast<uint32_t>(n), nullptr);
        if (!h) {
            EXPECT_EQ(ZipLastResult(), kZipNoFile);
            continue;
        }
        ZipEntryInfo info;
        ZipGetEntry(h, -1, &info);
        for (int i = 0; i < info.index; ++i) {
            ZipEntryInfo e;
            ZipGetEntry(h, i, &e);
        }
        ZipClose(h);
    }
}

// A compression bomb that lies about its size: the entry is stopped where it
// passes the size it declares, and the part written is removed again.
TEST_F(ZipTest, EntryInflatingPastItsDeclaredSizeIsStoppedAndRemoved) {
    Archive archive(Path("bomb_liar.zip"));
    ASSERT_NE(archive.handle(), nullptr);
    EXPECT_EQ(archive.Entry(0).uncompressedSize, 1000u);
    EXPECT_EQ(archive.ExtractInto(0, out_), kZipFlate);
    EXPECT_FALSE(fs::exists(out_ + "entry.txt"));
}

// The cap on what one archive unpacks: an entry that does not fit in what is
// left is refused before a byte is written, and leaves an existing file of its
// name as it was.
TEST_F(ZipTest, UnpackLimitCapsTheWholeArchive) {
    Archive archive(Path("three_mib.zip"));
    ASSERT_NE(archive.handle(), nullptr);
    EXPECT_EQ(ZipSetUnpackLimit(archive.handle(), (5u << 20) / 2), kZipOk);
    ASSERT_TRUE(tvxtest::WriteFile(out_ + "c.bin", "kept"));
    EXPECT_EQ(archive.ExtractInto(0, out_), kZipOk);
    EXPECT_EQ(archive.ExtractInto(1, out_), kZipOk);
    EXPECT_EQ(archive.ExtractInto(2, out_), kZipWrite);
    EXPECT_EQ(ZipLastResult(), kZipWrite);
    EXPECT_EQ(fs::file_size(out_ + "b.bin"), 1u << 20);
    EXPECT_EQ(tvxtest::ReadFile(out_ + "c.bin"), "kept");
    EXPECT_EQ(ZipSetUnpackLimit(nullptr, 1), kZipArgs);
}

// Extraction relative to a folder handle: folders along the name are made
// below it, and a link in their place is never followed.
TEST_F(ZipTest, ExtractingBelowAFolderHandleFollowsNoLink) {
    Archive archive(Path("py_mixed.zip"));
    ASSERT_NE(archive.handle(), nullptr);
    const platform::Directory folder = platform::Directory::Open(out_);
    ASSERT_TRUE(folder.IsValid());
    const int index = archive.Find("stored.txt");
    ASSERT_GE(index, 0);
    EXPECT_EQ(ZipExtractEntryAt(archive.handle(), index, folder, "deep/er/pic.jpg"), kZipOk);
    EXPECT_TRUE(fs::is_regular_file(out_ + "deep/er/pic.jpg"));

    const std::string elsewhere = dir_.Path() + "elsewhere/";
    ASSERT_TRUE(tvxtest::MakeDirs(elsewhere));
    ASSERT_EQ(::symlink(elsewhere.c_str(), (out_ + "link").c_str()), 0);
    ASSERT_EQ(::symlink((elsewhere + "victim").c_str(), (out_ + "pic.jpg").c_str()), 0);
    ASSERT_TRUE(tvxtest::WriteFile(elsewhere + "victim", "mine"));
    EXPECT_EQ(ZipExtractEntryAt(archive.handle(), index, folder, "link/pic.jpg"), kZipNoFile);
    EXPECT_FALSE(fs::exists(elsewhere + "pic.jpg"));
    // A link in the file's own place is replaced, its target untouched.
    EXPECT_EQ(ZipExtractEntryAt(archive.handle(), index, folder, "pic.jpg"), kZipOk);
    EXPECT_FALSE(fs::is_symlink(out_ + "pic.jpg"));
    EXPECT_EQ(tvxtest::ReadFile(elsewhere + "victim"), "mine");
    for (const char* bad : {"../pic.jpg", "/abs/pic.jpg", "a/../../pic.jpg", ""})
        EXPECT_EQ(ZipExtractEntryAt(archive.handle(), index, folder, bad), kZipNoFile) << bad;
}
