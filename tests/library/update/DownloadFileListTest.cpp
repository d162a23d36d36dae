// The engine update's records and list: attempts, the manifest's choice of
// archives against the installed engine, and the check and unpacking of
// archives made by the real 7zz and zip commands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "UpdateTestSupport.h"
#include "library/common/Log.h"
#include "library/common/PublisherKey.h"
#include "library/update/CDownloadFileList.h"
#include "library/update/UpdateResult.h"
#include "support/TempDir.h"
#include "util/MD4.h"

namespace {

using tvxtest::Bytes;

// The records' rules without a publisher key: content is unsigned, as it was
// before keys (signed updates have tests of their own).
struct UnsignedContent {
    UnsignedContent() { SetPublisherKey(std::string()); }
    ~UnsignedContent() { SetPublisherKey(std::nullopt); }
};

std::string HashOf(const std::string& body) {
    const auto list = Md4HashList(body.data(), static_cast<int64_t>(body.size()));
    return {list.begin(), list.end()};
}

int32_t Deliver(CDownloadFile& file, const std::string& url, const std::string& body,
                int32_t* kindOut = nullptr) {
    int32_t kind = -1;
    const int32_t r = file.OnData(url, reinterpret_cast<const uint8_t*>(body.data()),
                                  static_cast<int64_t>(body.size()), kind);
    if (kindOut)
        *kindOut = kind;
    return r;
}

std::string Manifest(
    const std::string& version, const std::string& engineEntry,
    const std::string& extraChildren = "",
    const std::string& all = R"(<all url="http://u/all.7z" hash="http://u/all.7z.hash"/>)") {
    return "<?xml version=\"1.0\"?><update><file><vrDownload.exe ver=\"" + version + "\" " +
           engineEntry + "/>" + extraChildren + "</file><all>" + all + "</all></update>";
}

TEST(DownloadFileListTest, AddingFindingAndTheThreeAttempts) {
    const UnsignedContent unsignedContent;
    CDownloadFileList list;
    EXPECT_EQ(list.AddUpdateFile("", "h", "n", "/f/"), 0);
    EXPECT_EQ(list.AddUpdateFile("http://u/a.7z", "http://u/a.hash", "n", "/f/"), 1);
    // The same archive twice is one file; its request URL is the hash URL first.
    EXPECT_EQ(list.AddUpdateFile("http://u/a.hash", "", "n", "/f/"), 0);
    EXPECT_EQ(list.AddUpdateFile("http://u/b.zip", "http://u/b.hash", "n", "/f/"), 1);
    EXPECT_EQ(list.AddUpdateFile("http://u/b.hash", "x", "n", "/f/"), 0);
    EXPECT_EQ(list.HasUpdateFiles(), 2);
    EXPECT_EQ(list.FindUpdateFile("http://u/a.7z"), nullptr);
    CDownloadFile* a = list.FindUpdateFile("http://u/a.hash");
    ASSERT_NE(a, nullptr);

    // Busy files are skipped; each file has three attempts, then it is gone.
    EXPECT_EQ(list.NextUpdateFile(), a);
    CDownloadFile* b = list.NextUpdateFile();
    EXPECT_EQ(b->ArchiveUrl(), "http://u/b.zip");
    EXPECT_EQ(list.NextUpdateFile(), nullptr);
    for (int attempt = 2; attempt <= 3; ++attempt) {
        list.FinishUpdateFile("http://u/a.hash", false);
        ASSERT_EQ(list.HasUpdateFiles(), 2);
        EXPECT_EQ(list.NextUpdateFile(), a) << attempt;
    }
    list.FinishUpdateFile("http://u/a.hash", false);
    EXPECT_EQ(list.HasUpdateFiles(), 1);
    list.FinishUpdateFile("", true);
    list.FinishUpdateFile("http://u/none", true);
    EXPECT_EQ(list.HasUpdateFiles(), 1);
    list.FinishUpdateFile("http://u/b.hash", true);
    EXPECT_EQ(list.HasUpdateFiles(), 0);
}

TEST(DownloadFileListTest, AFailedHashFileKeepsTheCheckForTheNextAttempt) {
    const UnsignedContent unsignedContent;
    CDownloadFileList list;
    list.AddUpdateFile("http://u/a.7z", "http://u/a.hash", "vrDownload.exe", "/f/");
    CDownloadFile* file = list.NextUpdateFile();
    list.FinishUpdateFile("http://u/a.hash", false);
    ASSERT_EQ(list.FindUpdateFile("http://u/a.hash"), file);
    EXPECT_EQ(file->HashUrl(), "http://u/a.hash");
    ASSERT_NE(file->Hash(), nullptr);
    // Even when the archive itself is handed over, nothing is unpacked without the hash list.
    int32_t kind = 0;
    EXPECT_EQ(Deliver(*file, "http://u/a.7z", "7z bytes", &kind), kUpdateHashMismatch);
    EXPECT_EQ(kind, kKindArchive);
}

TEST(DownloadFileListTest, RecordsClassifyAndTakeTheirBodies) {
    const UnsignedContent unsignedContent;
    CDownloadFileList list;
    list.AddUpdateFile("http://u/m.xml", "", "", "");
    list.AddUpdateFile("http://u/a.zip", "http://u/a.hash", "n", "/f/");
    CDownloadFile& manifest = *list.FindUpdateFile("http://u/m.xml");
    CDownloadFile& archive = *list.FindUpdateFile("http://u/a.hash");
    EXPECT_TRUE(manifest.IsManifest());
    EXPECT_EQ(manifest.Classify("anything"), kKindManifest);
    EXPECT_EQ(manifest.Classify(""), kKindNone);
    EXPECT_EQ(archive.Classify("http://u/a.hash"), kKindHashFile);
    EXPECT_EQ(archive.Classify("http://u/a.zip"), kKindArchive);
    EXPECT_EQ(archive.Classify("http://u/other"), kKindNone);

    EXPECT_EQ(Deliver(archive, "http://u/a.hash", ""), kUpdateNoData);
    EXPECT_EQ(Deliver(archive, "", "x"), kUpdateNoData);
    EXPECT_EQ(Deliver(archive, "http://u/other", "x"), kUpdateUnknownUrl);
    int32_t kind = 0;
    EXPECT_EQ(Deliver(archive, "http://u/a.hash", "0123456789abcdef", &kind), kUpdateHandled);
    EXPECT_EQ(kind, kKindHashFile);
    // The session goes on to the archive, which is now the request URL.
    EXPECT_FALSE(archive.IsFinished());
    std::string next;
    EXPECT_TRUE(archive.GetRequestUrl(next));
    EXPECT_EQ(next, "http://u/a.zip");
    EXPECT_EQ(Deliver(archive, "http://u/a.zip", "not the archive"), kUpdateHashMismatch);
    EXPECT_TRUE(archive.IsFinished());
}

class ManifestTest : public ::testing::Test {
    const UnsignedContent unsignedContent_;

  protected:
    void SetUp() override { tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder())); }
    int32_t Read(const std::string& xml) {
        list_->AddUpdateFile("http://u/QGM_updater.xml", "", "", "");
        return Deliver(*list_->FindUpdateFile("http://u/QGM_updater.xml"),
                       "http://u/QGM_updater.xml", xml);
    }
    // The archive URLs the list now holds besides the manifest.
    std::vector<std::string> Archives() {
        std::vector<std::string> out;
        while (CDownloadFile* f = list_->NextUpdateFile()) {
            if (!f->IsManifest())
                out.push_back(f->ArchiveUrl() + " " + f->HashUrl() + " " + f->Folder() + f->Name());
        }
        return out;
    }
    std::unique_ptr<CDownloadFileList> list_ = std::make_unique<CDownloadFileList>();
};

TEST_F(ManifestTest, VersionsDecideWhetherTheEngineIsUpdated) {
    const std::string own = R"(url="http://u/own.zip" hash="http://u/own.zip.hash")";
    const std::string all = "http://u/all.7z http://u/all.7z.hash " + tvxtest::EnginePath();
    const std::string second = R"(<other.dll ver="1" url="http://u/o.zip" hash="http://u/o.h"/>)";
    const std::string ownEntry = "http://u/own.zip http://u/own.zip.hash " + tvxtest::EnginePath();
    struct Case {
        const char* what;
        bool installed;
        std::string offered;
        std::string extraChildren;
        std::vector<std::string> archives;
    } cases[] = {
        {"equal versions, engine present", true, TVX_TEST_ENGINE_VERSION, "", {}},
        {"equal versions, engine missing", false, TVX_TEST_ENGINE_VERSION, "", {all}},
        {"other version, one child: all/all", true, "9.9.9.9", "", {all}},
        {"other version, two children: its own entry", true, "9.9.9.9", second, {ownEntry}},
    };
    std::string log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tvxtest::Shell("rm -rf " + tvxtest::Quoted(tvxtest::EngineFolder()));
        ResetLogFile();
        if (c.installed) {
            ASSERT_TRUE(tvxtest::InstallTestEngine());
        }
        list_ = std::make_unique<CDownloadFileList>();
        EXPECT_EQ(Read(Manifest(c.offered, own, c.extraChildren)), kUpdateHandled);
        EXPECT_EQ(list_->NewVersion(), c.offered);
        EXPECT_EQ(Archives(), c.archives);
        log += tvxtest::ReadFile(LogFilePath());
    }
    EXPECT_NE(
        log.find("[TarvoLib] Current Version: " TVX_TEST_ENGINE_VERSION " / New Version: 9.9.9.9"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("[TarvoLib] Update File (Count: 0)"), std::string::npos);
    EXPECT_NE(log.find("[TarvoLib] Update File (Count: 1)"), std::string::npos);
}

TEST_F(ManifestTest, ManifestsWithoutVersionOrUrlsAreRefused) {
    const std::string own = R"(url="http://u/own.zip" hash="http://u/own.zip.hash")";
    struct Case {
        const char* what;
        std::string xml;
        int32_t result;
    } cases[] = {
        {"no version", Manifest("", own), kUpdateBadManifest},
        {"no engine element", "<update><file><x.exe ver=\"1\"/></file></update>",
         kUpdateBadManifest},
        {"all/all without url", Manifest("2", own, "", R"(<all hash="http://u/h"/>)"),
         kUpdateBadManifest},
        // An archive that could not be checked would be run unchecked.
        {"all/all without hash", Manifest("2", own, "", R"(<all url="http://u/a.7z"/>)"),
         kUpdateBadManifest},
        {"own entry without hash", Manifest("2", R"(url="http://u/own.zip")", "<b ver=\"1\"/>"),
         kUpdateBadManifest},
        {"not XML at all", "garbage", kUpdateBadManifest},
        {"element names in any case",
         "<U><FILE><VRDOWNLOAD.EXE ver=\"2\"/></FILE><ALL><ALL url=\"http://u/a.7z\" "
         "hash=\"http://u/h\"/></ALL></U>",
         kUpdateHandled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        list_ = std::make_unique<CDownloadFileList>();
        EXPECT_EQ(Read(c.xml), c.result);
    }
}

// The archive path: check, type and unpacking, on archives of the real tools.
class ArchiveDataTest : public ::testing::Test {
    const UnsignedContent unsignedContent_;

  protected:
    void SetUp() override {
        tvxtest::MakeDirs(source_.Path() + "a/b");
        tvxtest::WriteFile(source_.Path() + "a/b/c.txt", "nested");
        tvxtest::WriteFile(source_.Path() + "top.txt", "top");
    }
    // A file with the archive URL, its hash list delivered, then the archive.
    int32_t Unpack(const std::string& url, const std::string& archive,
                   const std::string& hashList) {
        CDownloadFileList list;
        list.AddUpdateFile(url, url + ".hash", "vrDownload.exe", out_.Path());
        CDownloadFile& file = *list.NextUpdateFile();
        if (!hashList.empty()) {
            EXPECT_EQ(Deliver(file, url + ".hash", hashList), kUpdateHandled);
        }
        return Deliver(file, url, archive);
    }
    tvxtest::TempDir source_;
    tvxtest::TempDir out_;
};

TEST_F(ArchiveDataTest, CheckedArchivesAreUnpackedByTheirType) {
    const std::string sevenZ = tvxtest::Make7z(source_.Path(), {"a", "top.txt"});
    const std::string zip = tvxtest::MakeZip(source_.Path(), {"a", "top.txt"});
    ASSERT_FALSE(sevenZ.empty());
    ASSERT_FALSE(zip.empty());
    struct Case {
        const char* url;
        const std::string& archive;
        int32_t result;
    } cases[] = {
        {"http://u/engine.7z", sevenZ, kUpdateHandled},
        {"http://u/ENGINE.7Z", sevenZ, kUpdateHandled},
        {"http://u/engine.Zip", zip, kUpdateHandled},
        {"http://u/engine.tar", zip, kUpdateUnpackFailed},
        {"http://u/engine", zip, kUpdateUnpackFailed},
        // A 7z sent as zip, and the other way round, do not open.
        {"http://u/engine.zip", sevenZ, kUpdateUnpackFailed},
        {"http://u/engine.7z", zip, kUpdateUnpackFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        tvxtest::Shell("rm -rf " + tvxtest::Quoted(out_.Path()) + "*");
        EXPECT_EQ(Unpack(c.url, c.archive, HashOf(c.archive)), c.result);
        EXPECT_EQ(tvxtest::ReadFile(out_.Path() + "a/b/c.txt"),
                  c.result == kUpdateHandled ? "nested" : "");
    }
}

TEST_F(ArchiveDataTest, NothingIsUnpackedWithoutAMatchingWholeHashList) {
    const std::string sevenZ = tvxtest::Make7z(source_.Path(), {"a", "top.txt"});
    ASSERT_FALSE(sevenZ.empty());
    std::string tampered = sevenZ;
    tampered[tampered.size() / 2] ^= 1;
    const std::string right = HashOf(sevenZ);
    struct Case {
        const char* what;
        std::string archive;
        std::string hashList;
        int32_t result;
    } cases[] = {
        {"tampered archive", tampered, right, kUpdateHashMismatch},
        {"hash list of another body", sevenZ, HashOf("other"), kUpdateHashMismatch},
        {"hash list cut short", sevenZ, right.substr(0, 16), kUpdateHashMismatch},
        {"no hash file delivered", sevenZ, "", kUpdateHashMismatch},
        // A body that matches its list but is no whole 7z still fails cleanly.
        {"truncated 7z with its own list", sevenZ.substr(0, sevenZ.size() - 20),
         HashOf(sevenZ.substr(0, sevenZ.size() - 20)), kUpdateUnpackFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Unpack("http://u/engine.7z", c.archive, c.hashList), c.result);
        EXPECT_FALSE(tvxtest::ReadFile(out_.Path() + "top.txt").size()) << "unpacked";
    }
}

}  // namespace
