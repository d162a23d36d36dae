// The version of a program file: the stand-in engine's ELF section, a PE
// image's version resource built here byte by byte, and damaged files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library/update/ReadFileVersion.h"
#include "support/TempDir.h"

namespace {

class Writer {
  public:
    std::vector<uint8_t> bytes;
    size_t Pos() const { return bytes.size(); }
    void U16(uint32_t v) { Put(v, 2); }
    void U32(uint32_t v) { Put(v, 4); }
    void Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Wide(const std::string& ascii) {
        for (char c : ascii)
            U16(static_cast<uint8_t>(c));
        U16(0);
    }
    void Align(size_t n) {
        while (bytes.size() % n)
            bytes.push_back(0);
    }
    void At(size_t pos, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes[pos + i] = static_cast<uint8_t>(v >> (8 * i));
    }
};

// One version block; body writes value and children. Its length is patched in.
template <typename Body>
void Block(Writer& w, const std::string& key, uint32_t valueLength, uint32_t type, Body body) {
    w.Align(4);
    const size_t start = w.Pos();
    w.U16(0);
    w.U16(valueLength);
    w.U16(type);
    w.Wide(key);
    w.Align(4);
    body();
    w.At(start, static_cast<uint32_t>(w.Pos() - start), 2);
}

// A VS_VERSIONINFO with one string table and, when given, a translation.
std::vector<uint8_t> VersionResource(const std::string& table, const std::string& version,
                                     std::vector<uint16_t> translation) {
    Writer w;
    Block(w, "VS_VERSION_INFO", 52, 0, [&] {
        w.U32(0xFEEF04BD);
        for (int i = 0; i < 12; ++i)
            w.U32(0);
        Block(w, "StringFileInfo", 0, 1, [&] {
            Block(w, table, 0, 1, [&] {
                Block(w, "CompanyName", 6, 1, [&] { w.Wide("Brenh"); });
                Block(w, "FileVersion", static_cast<uint32_t>(version.size() + 1), 1,
                      [&] { w.Wide(version); });
            });
        });
        if (!translation.empty()) {
            Block(w, "VarFileInfo", 0, 1, [&] {
                Block(w, "Translation", static_cast<uint32_t>(2 * translation.size()), 0, [&] {
                    for (uint16_t t : translation)
                        w.U16(t);
                });
            });
        }
    });
    return w.bytes;
}

// A PE32+ image with one .rsrc section holding the version resource.
std::vector<uint8_t> PeImage(const std::vector<uint8_t>& resource) {
    Writer w;
    w.bytes.assign(0x80, 0);
    w.bytes[0] = 'M';
    w.bytes[1] = 'Z';
    w.At(0x3C, 0x80, 4);
    w.U32(0x00004550);  // "PE\0\0"
    w.U16(0x8664);
    w.U16(1);  // one section
    w.U32(0);
    w.U32(0);
    w.U32(0);
    w.U16(240);  // optional header size
    w.U16(0x22);
    const size_t opt = w.Pos();
    w.bytes.resize(opt + 240, 0);
    w.At(opt, 0x20B, 2);
    w.At(opt + 108, 16, 4);       // 16 data directories
    const uint32_t rva = 0x1000;  // the resource directory
    w.At(opt + 112 + 16, rva, 4);
    w.At(opt + 112 + 20, 0x200, 4);
    const size_t section = w.Pos();
    w.bytes.resize(section + 40, 0);
    std::memcpy(&w.bytes[section], ".rsrc", 5);
    w.Align(0x200);
    const uint32_t raw = static_cast<uint32_t>(w.Pos());
    // Tree: type 16 -> name 1 -> language 0x412 -> data entry.
    auto dir = [&](uint32_t id, uint32_t target) {
        for (int i = 0; i < 12; ++i)
            w.bytes.push_back(0);
        w.U16(0);
        w.U16(1);
        w.U32(id);
        w.U32(target);
    };
    dir(16, 0x80000000u | 24);
    dir(1, 0x80000000u | 48);
    dir(0x412, 72);
    w.U32(rva + 88);  // data RVA
    w.U32(static_cast<uint32_t>(resource.size()));
    w.U32(0);
    w.U32(0);
    w.bytes.insert(w.bytes.end(), resource.begin(), resource.end());
    w.Align(0x200);
    const uint32_t rawSize = static_cast<uint32_t>(w.Pos() - raw);
    w.At(section + 8, rawSize, 4);
    w.At(section + 12, rva, 4);
    w.At(section + 16, rawSize, 4);
    w.At(section + 20, raw, 4);
    return w.bytes;
}

std::string Write(const tvxtest::TempDir& dir, const std::string& name,
                  const std::vector<uint8_t>& bytes) {
    const std::string path = dir.Path() + name;
    // A fresh file each time: rewriting one in place makes the file system flush it.
    std::remove(path.c_str());
    tvxtest::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

TEST(ReadFileVersionTest, ElfSectionText) {
    EXPECT_EQ(ReadFileVersion(TVX_TEST_ENGINE), TVX_TEST_ENGINE_VERSION);
    // An ELF program without the section (the test program itself) has none.
    EXPECT_EQ(ReadFileVersion("/proc/self/exe"), "");
    EXPECT_EQ(ReadFileVersion("/bin/sh"), "");
    EXPECT_EQ(ReadFileVersion(""), "");
    EXPECT_EQ(ReadFileVersion("/no/such/file"), "");
    tvxtest::TempDir dir;
    EXPECT_EQ(ReadFileVersion(Write(dir, "text", {'h', 'i', '\n'})), "");
    EXPECT_EQ(ReadFileVersion(dir.Path()), "");
}

TEST(ReadFileVersionTest, PeVersionResourceByTranslation) {
    tvxtest::TempDir dir;
    struct Case {
        const char* what;
        std::string table;
        std::vector<uint16_t> translation;
        std::string version;
    } cases[] = {
        {"Korean, Unicode", "041204B0", {0x0412, 0x04B0}, "3.5.0.2"},
        {"lower-case table name", "041204b0", {0x0412, 0x04B0}, "3.5.0.2"},
        {"no translation: default language", "040904B0", {}, "1.0.0.7"},
        {"two translations: default language", "040904B0", {0x0412, 0x04B0, 0x0409, 0x04B0}, "2.0"},
        {"translation names another table", "040904B0", {0x0412, 0x03B5}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(
            dir, "engine.exe",
            PeImage(VersionResource(c.table, c.version.empty() ? "9" : c.version, c.translation)));
        EXPECT_EQ(ReadFileVersion(path), c.version);
    }
}

TEST(ReadFileVersionTest, DamagedImagesGiveNoVersion) {
    tvxtest::TempDir dir;
    const std::string elf = tvxtest::ReadFile(TVX_TEST_ENGINE);
    const std::vector<std::vector<uint8_t>> all{
        PeImage(VersionResource("041204B0", "3.5.0.2", {0x0412, 0x04B0})),
        {elf.begin(), elf.end()}};
    for (const auto& image : all) {
        // Every cut of the headers and of the end, and bytes flipped throughout:
        // the right version or none, never more (and never a fault).
        for (size_t cut = 0; cut < image.size(); cut += (cut < 2048 ? 5 : 2039)) {
            const std::vector<uint8_t> prefix(image.begin(), image.begin() + cut);
            const std::string version = ReadFileVersion(Write(dir, "cut", prefix));
            EXPECT_TRUE(version.empty() || version == "3.5.0.2" ||
                        version == TVX_TEST_ENGINE_VERSION)
                << cut << ": " << version;
        }
        for (size_t at = 0; at < std::min<size_t>(image.size(), 2048); at += 5) {
            std::vector<uint8_t> bad = image;
            bad[at] ^= 0xFF;
            ReadFileVersion(Write(dir, "flip", bad));
        }
    }
}

}  // namespace
