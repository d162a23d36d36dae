// MD4 against the RFC 1320 suite and against an independent
// implementation (OpenSSL's, through its command line), and the hash lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "util/MD4.h"

namespace {

std::string Hex(const uint8_t* p, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string Md4Hex(const std::string& text) {
    ctCMD4 md4;
    EXPECT_EQ(md4.Update(text.data(), static_cast<int32_t>(text.size())), 1);
    uint8_t digest[16];
    EXPECT_EQ(md4.Final(digest), 1);
    return Hex(digest, 16);
}

std::vector<uint8_t> Digest(const void* data, std::size_t n) {
    ctCMD4 md4;
    md4.Update(data, static_cast<int32_t>(n));
    std::vector<uint8_t> out(16);
    md4.Final(out.data());
    return out;
}

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}

// The openssl command that computes MD4 here ("" when none does): OpenSSL 3
// keeps MD4 in its legacy provider.
std::string OpensslMd4Command() {
    static const std::string command = [] {
        for (std::string c :
             {"openssl dgst -md4 -r -provider legacy -provider default", "openssl dgst -md4 -r"}) {
            if (Run("printf abc | " + c + " 2>/dev/null")
                    .find("a448017aaf21d8525fc10ae87aa6729d") == 0)
                return c;
        }
        return std::string();
    }();
    return command;
}

std::string OpensslMd4OfFile(const std::string& path) {
    const std::string out = Run(OpensslMd4Command() + " '" + path + "' 2>/dev/null");
    return out.substr(0, 32);
}

std::vector<uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

}  // namespace

TEST(MD4Test, Rfc1320Suite) {
    const struct {
        const char* text;
        const char* digest;
    } suite[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& c : suite)
        EXPECT_EQ(Md4Hex(c.text), c.digest) << '"' << c.text << '"';
}

TEST(MD4Test, UpdateAndFinalArguments) {
    ctCMD4 md4;
    EXPECT_EQ(md4.Update(nullptr, 3), 0);
    EXPECT_EQ(md4.Update("abc", -1), 0);
    EXPECT_EQ(md4.Update("abc", 0), 1);  // changes nothing
    EXPECT_EQ(md4.Update("abc", 3), 1);
    EXPECT_EQ(md4.Update("xyz", 0), 1);
    EXPECT_EQ(md4.Final(nullptr), 0);
    uint8_t digest[16];
    EXPECT_EQ(md4.Final(digest), 1);
    EXPECT_EQ(Hex(digest, 16), "a448017aaf21d8525fc10ae87aa6729d");
}

TEST(MD4Test, PiecewiseEqualsWhole) {
    const auto data = RandomBytes(5000, 7);
    const auto whole = Digest(data.data(), data.size());
    for (std::size_t step : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 1000u}) {
        ctCMD4 md4;
        for (std::size_t off = 0; off < data.size(); off += step)
            md4.Update(data.data() + off, static_cast<int32_t>(std::min(step, data.size() - off)));
        std::vector<uint8_t> piece(16);
        md4.Final(piece.data());
        EXPECT_EQ(piece, whole) << "step " << step;
    }
}

TEST(MD4Test, AgreesWithOpenssl) {
    // Debian's openssl has MD4 in its legacy provider, which libssl3 ships.
    ASSERT_FALSE(OpensslMd4Command().empty())
        << "no MD4 in the openssl command here (neither legacy provider nor OpenSSL 1.x)";
    tvxtest::TempDir dir;
    // Lengths around the padding boundaries and a few larger ones.
    const std::size_t lengths[] = {0,   1,   55,  56,   57,    63,      64,      65,
                                   119, 120, 128, 1000, 65537, 1048576, 1048577, 3 * 1048576 + 5};
    unsigned seed = 1;
    for (std::size_t n : lengths) {
        const auto data = RandomBytes(n, seed++);
        const std::string path = dir.Path() + "body" + std::to_string(n);
        ASSERT_TRUE(tvxtest::WriteFile(path, std::string(data.begin(), data.end())));
        const auto d = Digest(data.data(), data.size());
        EXPECT_EQ(Hex(d.data(), 16), OpensslMd4OfFile(path)) << "length " << n;
    }
}

TEST(MD4Test, HashListLengths) {
    const struct {
        int64_t body;
        std::size_t list;
    } cases[] = {{0, 16},       {1, 32},       {1048575, 32}, {1048576, 32},
                 {1048577, 48}, {2097152, 48}, {2097153, 64}};
    for (const auto& c : cases) {
        const auto body = RandomBytes(static_cast<std::size_t>(c.body), 3);
        const auto list = Md4HashList(body.data(), c.body);
        EXPECT_EQ(list.size(), c.list) << "body " << c.body;
        EXPECT_TRUE(
            VerifyHashList(list.data(), static_cast<int64_t>(list.size()), body.data(), c.body));
    }
}

TEST(MD4Test, EmptyBodyListIsDigestOfNothing) {
    const auto list = Md4HashList(nullptr, 0);
    ASSERT_EQ(list.size(), 16u);
    EXPECT_EQ(Hex(list.data(), 16), "31d6cfe0d16ae931b73c59d7e0c089c0");
    EXPECT_TRUE(VerifyHashList(list.data(), 16, nullptr, 0));
    EXPECT_TRUE(VerifyHashList(list.data(), 16, "", 0));
}

// The list laid out as the updater expects it: every chunk's digest, then the digest of
// those digests; built here from separate digests of the pieces.
TEST(MD4Test, HashListLayout) {
    const auto body = RandomBytes(1048577, 11);
    const auto list = Md4HashList(body.data(), static_cast<int64_t>(body.size()));
    ASSERT_EQ(list.size(), 48u);
    std::vector<uint8_t> expected = Digest(body.data(), 1048576);
    const auto second = Digest(body.data() + 1048576, 1);
    expected.insert(expected.end(), second.begin(), second.end());
    const auto root = Digest(expected.data(), 32);
    expected.insert(expected.end(), root.begin(), root.end());
    EXPECT_EQ(list, expected);
}

TEST(MD4Test, HashListAgreesWithOpenssl) {
    ASSERT_FALSE(OpensslMd4Command().empty()) << "no MD4 in the openssl command here";
    tvxtest::TempDir dir;
    const auto body = RandomBytes(2 * 1048576 + 100, 5);
    const auto list = Md4HashList(body.data(), static_cast<int64_t>(body.size()));
    ASSERT_EQ(list.size(), 64u);
    std::string digests;
    for (int i = 0; i < 3; ++i) {
        const std::size_t from = static_cast<std::size_t>(i) * 1048576;
        const std::size_t n = std::min<std::size_t>(1048576, body.size() - from);
        const std::string path = dir.Path() + "chunk" + std::to_string(i);
        tvxtest::WriteFile(path, std::string(body.begin() + from, body.begin() + from + n));
        const std::string hex = OpensslMd4OfFile(path);
        EXPECT_EQ(Hex(list.data() + 16 * i, 16), hex) << "chunk " << i;
        for (std::size_t k = 0; k + 1 < hex.size(); k += 2)
            digests += static_cast<char>(std::strtoul(hex.substr(k, 2).c_str(), nullptr, 16));
    }
    tvxtest::WriteFile(dir.Path() + "digests", digests);
    EXPECT_EQ(Hex(list.data() + 48, 16), OpensslMd4OfFile(dir.Path() + "digests"));
}

TEST(MD4Test, VerifyHashListNeedsTheWholeListAndCatchesTampering) {
    auto body = RandomBytes(2 * 1048576 + 17, 9);
    const int64_t n = static_cast<int64_t>(body.size());
    const auto list = Md4HashList(body.data(), n);
    ASSERT_EQ(list.size(), 64u);

    EXPECT_TRUE(VerifyHashList(list.data(), 64, body.data(), n));
    // A list cut short vouches for nothing, even when every digest it holds is right.
    for (int64_t cut : {0, 15, 16, 32, 48, 63})
        EXPECT_FALSE(VerifyHashList(list.data(), cut, body.data(), n)) << cut;
    body[1048576 + 5] ^= 1;
    EXPECT_FALSE(VerifyHashList(list.data(), 64, body.data(), n));
    EXPECT_FALSE(VerifyHashList(list.data(), 16, body.data(), n));
    body[1048576 + 5] ^= 1;
    // A wrong byte in the last, short chunk.
    body.back() ^= 0x80;
    EXPECT_FALSE(VerifyHashList(list.data(), 64, body.data(), n));
    body.back() ^= 0x80;
    // A wrong root digest.
    auto bad = list;
    bad[63] ^= 1;
    EXPECT_FALSE(VerifyHashList(bad.data(), 64, body.data(), n));
    // Longer than the computed list.
    auto longer = list;
    longer.push_back(0);
    EXPECT_FALSE(VerifyHashList(longer.data(), 65, body.data(), n));
    // A body one byte short or long changes the chunk count.
    EXPECT_FALSE(VerifyHashList(list.data(), 64, body.data(), n - 1));
    body.push_back(0);
    EXPECT_FALSE(VerifyHashList(list.data(), 64, body.data(), n + 1));
}

TEST(MD4Test, VerifyHashListArguments) {
    const auto list = Md4HashList("abc", 3);
    EXPECT_FALSE(VerifyHashList(list.data(), 32, nullptr, 3));
    EXPECT_FALSE(VerifyHashList(list.data(), 32, "abc", -1));
    EXPECT_FALSE(VerifyHashList(nullptr, 32, "abc", 3));
    EXPECT_FALSE(VerifyHashList(list.data(), -1, "abc", 3));
    EXPECT_FALSE(VerifyHashList(list.data(), 0, "abc", 3));  // an empty hash file checks nothing
    EXPECT_TRUE(VerifyHashList(list.data(), 32, "abc", 3));
    EXPECT_FALSE(VerifyHashList(list.data(), 0, "", 0));  // an empty body still needs its 16 bytes
}
