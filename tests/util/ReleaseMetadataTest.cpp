// The signed release metadata: what is accepted and every way a text is refused.
#include <gtest/gtest.h>

#include <string>

#include "support/TempDir.h"
#include "util/Ed25519.h"
#include "util/ReleaseMetadata.h"

namespace {

constexpr int64_t kNow = 1800000000;

struct Keys {
    std::string privatePem = tvxtest::ReadFile(TVX_TEST_PUBLISHER_KEY);
    std::string publicPem = tvxtest::ReadFile(TVX_TEST_PUBLISHER_PUB);
    std::string otherPem = tvxtest::ReadFile(TVX_TEST_OTHER_KEY);
};

ReleaseMetadata ListMetadata(std::string_view list) {
    ReleaseMetadata metadata;
    metadata.kind = ReleaseKind::kFileList;
    metadata.version = 7;
    metadata.expires = kNow + 3600;
    metadata.subjectSha256 = CSha256::Of(list);
    metadata.subjectSize = static_cast<int64_t>(list.size());
    metadata.files.push_back({"http://h/a.bin", 3, CSha256::Of("abc")});
    metadata.files.push_back({"http://h/b c.exe", 0, CSha256::Of("")});
    return metadata;
}

TEST(ReleaseMetadata, SignedTextIsAcceptedWithEveryField) {
    const Keys keys;
    const std::string list = "http://h/a.bin\nhttp://h/b c.exe\n";
    const std::string text = SignedReleaseText(ListMetadata(list), keys.privatePem);
    ReleaseMetadata out;
    ASSERT_EQ(VerifyReleaseMetadata(text, keys.publicPem, ReleaseKind::kFileList, list, kNow, out),
              ReleaseCheck::kAccepted);
    EXPECT_EQ(out.version, 7u);
    EXPECT_EQ(out.expires, kNow + 3600);
    ASSERT_EQ(out.files.size(), 2u);
    ASSERT_NE(out.Find("http://h/b c.exe"), nullptr);
    EXPECT_EQ(out.Find("http://h/a.bin")->sha256, CSha256::Of("abc"));
    EXPECT_EQ(out.Find("http://h/a.bin")->size, 3);
    EXPECT_EQ(out.Find("http://h/x"), nullptr);
}

TEST(ReleaseMetadata, EveryFaultIsRefused) {
    const Keys keys;
    const std::string list = "http://h/a.bin\nhttp://h/b c.exe\n";
    const std::string good = SignedReleaseText(ListMetadata(list), keys.privatePem);
    ReleaseMetadata expired = ListMetadata(list);
    expired.expires = kNow;
    ReleaseMetadata update = ListMetadata(list);
    update.kind = ReleaseKind::kEngineUpdate;
    ReleaseMetadata twice = ListMetadata(list);
    twice.files.push_back(twice.files[0]);
    std::string flipped = good;
    flipped[flipped.find("version 7")+8] = '8';
    std::string crlf = good;
    crlf.replace(crlf.find('\n'), 1, "\r\n");

    const struct {
        const char* name;
        std::string text;
        std::string subject;
        std::string key;
        ReleaseCheck expected;
    } cases[] = {
        {"another key", SignedReleaseText(ListMetadata(list), keys.otherPem), list, keys.publicPem,
         ReleaseCheck::kBadSignature},
        {"changed after signing", flipped, list, keys.publicPem, ReleaseCheck::kBadSignature},
        {"other bytes", good, list + "http://evil/x.exe\n", keys.publicPem,
         ReleaseCheck::kSubjectMismatch},
        {"expired", SignedReleaseText(expired, keys.privatePem), list, keys.publicPem,
         ReleaseCheck::kExpired},
        {"an update's metadata", SignedReleaseText(update, keys.privatePem), list, keys.publicPem,
         ReleaseCheck::kWrongKind},
        {"a name twice", SignedReleaseText(twice, keys.privatePem), list, keys.publicPem,
         ReleaseCheck::kMalformed},
        {"no signature line", good.substr(0, good.find("signature")), list, keys.publicPem,
         ReleaseCheck::kMalformed},
        {"CR LF line ends", crlf, list, keys.publicPem, ReleaseCheck::kBadSignature},
        {"empty", "", list, keys.publicPem, ReleaseCheck::kMalformed},
        {"no key", good, list, "", ReleaseCheck::kNoKey},
        {"a private key as the public one", good, list, keys.privatePem,
         ReleaseCheck::kBadSignature},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseMetadata out;
        out.version = 99;
        EXPECT_EQ(VerifyReleaseMetadata(c.text, c.key, ReleaseKind::kFileList, c.subject, kNow, out),
                  c.expected);
        EXPECT_EQ(out.version, 99u);  // untouched unless accepted
    }
}

TEST(ReleaseMetadata, UrlSitsBesideTheDocument) {
    EXPECT_EQ(ReleaseMetadataUrl("http://h:1/fullinst/filelist.txt"),
              "http://h:1/fullinst/filelist.txt.release");
    EXPECT_EQ(ReleaseMetadataUrl("https://h/list.txt?v=2"), "https://h/list.txt.release?v=2");
}

TEST(ReleaseMetadata, GeneratedKeysSignAndVerify) {
    const auto pair = GenerateEd25519KeyPair();
    ASSERT_TRUE(pair);
    EXPECT_EQ(Ed25519PublicPemOf(pair->privatePem), pair->publicPem);
    const auto signature = SignEd25519(pair->privatePem, "message");
    ASSERT_TRUE(signature);
    EXPECT_TRUE(VerifyEd25519(pair->publicPem, "message", *signature));
    EXPECT_FALSE(VerifyEd25519(pair->publicPem, "messagE", *signature));
}

}  // namespace
