#include "library/update/ReadFileVersion.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/FileHandle.h"

namespace {

// Limits that keep a hostile file from making us read or allocate much: the
// engine's headers, section table and version data are far smaller.
constexpr uint64_t kMaxTable = 16u << 20;
constexpr uint64_t kMaxVersionText = 4096;
constexpr uint64_t kMaxVersionResource = 1u << 20;
// The language of the version query when the resource names no single
// translation (there is no user language id on Linux): U.S. English.
constexpr unsigned kDefaultLanguage = 0x0409;

// Reads ranges of one open file; every range is checked against its size.
class FileReader {
  public:
    explicit FileReader(const std::string& path)
        : file_(platform::FileHandle::OpenForReading(path)) {
        const int64_t size = file_.Size();
        size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    }

    uint64_t Size() const { return size_; }
    bool Read(uint64_t offset, uint64_t length, std::vector<uint8_t>& out) const {
        if (offset > size_ || length > size_ - offset)
            return false;
        out.resize(static_cast<size_t>(length));
        return file_.ReadAt(offset, out.data(), out.size());
    }

  private:
    platform::FileHandle file_;
    uint64_t size_ = 0;
};

// Fixed-width integers out of a byte range, in either byte order.
class Bytes {
  public:
    Bytes(const std::vector<uint8_t>& data, bool bigEndian = false)
        : data_(data), big_(bigEndian) {}
    size_t Size() const { return data_.size(); }
    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    uint64_t Get(uint64_t offset, int width) const {
        uint64_t v = 0;
        for (int i = 0; i < width; ++i) {
            const int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
            v |= static_cast<uint64_t>(data_[static_cast<size_t>(offset) + i]) << shift;
        }
        return v;
    }
    const uint8_t* At(uint64_t offset) const { return data_.data() + offset; }

  private:
    const std::vector<uint8_t>& data_;
    bool big_;
};

// --- ELF: the ".fileversion" section ---------------------------------------

std::string ElfVersion(const FileReader& file, const std::vector<uint8_t>& head) {
    Bytes ident(head);
    if (!ident.Has(0, 16))
        return {};
    const bool is64 = head[4] == 2;
    if (head[4] != 1 && head[4] != 2)
        return {};
    if (head[5] != 1 && head[5] != 2)
        return {};
    const bool big = head[5] == 2;
    const Bytes h(head, big);
    const uint64_t headerSize = is64 ? 64 : 52;
    if (!h.Has(0, headerSize))
        return {};
    const uint64_t shoff = is64 ? h.Get(0x28, 8) : h.Get(0x20, 4);
    const uint64_t shentsize = is64 ? h.Get(0x3A, 2) : h.Get(0x2E, 2);
    uint64_t shnum = is64 ? h.Get(0x3C, 2) : h.Get(0x30, 2);
    uint64_t shstrndx = is64 ? h.Get(0x3E, 2) : h.Get(0x32, 2);
    const uint64_t minEntry = is64 ? 64 : 40;
    if (shoff == 0 || shentsize < minEntry)
        return {};

    struct Section {
        uint64_t name, type, offset, size, link;
    };
    auto readSection = [&](const Bytes& table, uint64_t index) {
        const uint64_t at = index * shentsize;
        Section s{};
        s.name = table.Get(at, 4);
        s.type = table.Get(at + 4, 4);
        s.offset = is64 ? table.Get(at + 0x18, 8) : table.Get(at + 0x10, 4);
        s.size = is64 ? table.Get(at + 0x20, 8) : table.Get(at + 0x14, 4);
        s.link = is64 ? table.Get(at + 0x28, 4) : table.Get(at + 0x18, 4);
        return s;
    };

    // Many sections keep their real count and string-table index in section 0.
    std::vector<uint8_t> first;
    if (!file.Read(shoff, shentsize, first))
        return {};
    const Section zero = readSection(Bytes(first, big), 0);
    if (shnum == 0)
        shnum = zero.size;
    if (shstrndx == 0xFFFF)
        shstrndx = zero.link;
    if (shnum == 0 || shstrndx >= shnum || shnum > kMaxTable / shentsize)
        return {};

    std::vector<uint8_t> tableBytes;
    if (!file.Read(shoff, shnum * shentsize, tableBytes))
        return {};
    const Bytes table(tableBytes, big);
    const Section strtab = readSection(table, shstrndx);
    if (strtab.type == 8 || strtab.size > kMaxTable)  // SHT_NOBITS holds no bytes
        return {};
    std::vector<uint8_t> names;
    if (!file.Read(strtab.offset, strtab.size, names))
        return {};

    constexpr std::string_view kName = ".fileversion";
    for (uint64_t i = 0; i < shnum; ++i) {
        const Section s = readSection(table, i);
        if (s.name >= names.size() || names.size() - s.name < kName.size() + 1)
            continue;
        if (std::memcmp(names.data() + s.name, kName.data(), kName.size()) != 0 ||
            names[s.name + kName.size()] != 0)
            continue;
        if (s.type == 8)
            return {};
        std::vector<uint8_t> text;
        if (!file.Read(s.offset, std::min(s.size, kMaxVersionText), text))
            return {};
        const auto nul = std::find(text.begin(), text.end(), uint8_t{0});
        return std::string(text.begin(), nul);
    }
    return {};
}

// --- PE: the FileVersion of the version resource ---------------------------

std::string Utf16ToUtf8(const Bytes& b, uint64_t offset, uint64_t maxUnits) {
    std::string out;
    for (uint64_t i = 0; i < maxUnits && b.Has(offset + 2 * i, 2); ++i) {
        uint32_t c = static_cast<uint32_t>(b.Get(offset + 2 * i, 2));
        if (c == 0)
            break;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < maxUnits && b.Has(offset + 2 * i + 2, 2)) {
            const uint32_t low = static_cast<uint32_t>(b.Get(offset + 2 * i + 2, 2));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// One block of the version resource: length, value length, type, key, value,
// children, all 32-bit aligned from the start of the resource.
struct VersionBlock {
    uint64_t end = 0;  // one past the block
    std::string key;
    uint64_t value = 0;       // offset of the value
    uint64_t valueBytes = 0;  // its length in bytes (within the block)
    bool text = false;
    uint64_t children = 0;  // offset of the first child
};

uint64_t Align4(uint64_t v) {
    return (v + 3) & ~uint64_t{3};
}

std::optional<VersionBlock> ReadBlock(const Bytes& b, uint64_t at, uint64_t limit) {
    if (!b.Has(at, 6))
        return std::nullopt;
    const uint64_t length = b.Get(at, 2);
    if (length < 6 || at + length > limit)
        return std::nullopt;
    VersionBlock block;
    block.end = at + length;
    const uint64_t valueLength = b.Get(at + 2, 2);
    block.text = b.Get(at + 4, 2) == 1;
    uint64_t p = at + 6;
    const uint64_t keyStart = p;
    while (p + 2 <= block.end && b.Get(p, 2) != 0)
        p += 2;
    if (p + 2 > block.end)
        return std::nullopt;  // the key runs past the block
    block.key = Utf16ToUtf8(b, keyStart, (p - keyStart) / 2);
    block.value = std::min(Align4(p + 2), block.end);
    block.valueBytes =
        std::min(block.text ? 2 * valueLength : valueLength, block.end - block.value);
    block.children = std::min(Align4(block.value + block.valueBytes), block.end);
    return block;
}

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::optional<VersionBlock> FindChild(const Bytes& b, const VersionBlock& parent,
                                      std::string_view key) {
    uint64_t at = parent.children;
    while (at < parent.end) {
        const auto child = ReadBlock(b, at, parent.end);
        if (!child)
            return std::nullopt;
        if (SameKey(child->key, key))
            return child;
        at = Align4(child->end);
    }
    return std::nullopt;
}

// The query of a path of keys below the root block.
std::optional<VersionBlock> Query(const Bytes& b, std::initializer_list<std::string_view> path) {
    auto block = ReadBlock(b, 0, b.Size());
    for (std::string_view key : path) {
        if (!block)
            return std::nullopt;
        block = FindChild(b, *block, key);
    }
    return block;
}

std::string VersionFromResource(const std::vector<uint8_t>& data) {
    const Bytes b(data);
    char table[48];
    const auto translation = Query(b, {"VarFileInfo", "Translation"});
    if (translation && translation->valueBytes == 4) {
        const unsigned language = static_cast<unsigned>(b.Get(translation->value, 2));
        const unsigned codePage = static_cast<unsigned>(b.Get(translation->value + 2, 2));
        std::snprintf(table, sizeof table, "%02X%02X%02X%02X", language >> 8, language & 0xFF,
                      codePage >> 8, codePage & 0xFF);
    } else {
        std::snprintf(table, sizeof table, "%04X04B0", kDefaultLanguage);
    }
    const auto version = Query(b, {"StringFileInfo", table, "FileVersion"});
    if (!version || !version->text)
        return {};
    return Utf16ToUtf8(b, version->value, version->valueBytes / 2);
}

std::string PeVersion(const FileReader& file, const std::vector<uint8_t>& head) {
    const Bytes h(head);
    if (!h.Has(0, 0x40) || head[0] != 'M' || head[1] != 'Z')
        return {};
    const uint64_t pe = h.Get(0x3C, 4);
    std::vector<uint8_t> headerBytes;
    if (!file.Read(pe, 24, headerBytes) || std::memcmp(headerBytes.data(), "PE\0\0", 4) != 0)
        return {};
    const Bytes coff(headerBytes);
    const uint64_t sectionCount = coff.Get(4 + 2, 2);
    const uint64_t optionalSize = coff.Get(4 + 16, 2);
    std::vector<uint8_t> optionalBytes;
    if (!file.Read(pe + 24, optionalSize, optionalBytes))
        return {};
    const Bytes opt(optionalBytes);
    if (!opt.Has(0, 2))
        return {};
    const uint64_t magic = opt.Get(0, 2);
    uint64_t countAt = 0;
    if (magic == 0x10B)
        countAt = 92;
    else if (magic == 0x20B)
        countAt = 108;
    else
        return {};
    if (!opt.Has(countAt, 4) || opt.Get(countAt, 4) < 3 || !opt.Has(countAt + 4 + 2 * 8, 8))
        return {};
    const uint64_t resourceRva = opt.Get(countAt + 4 + 2 * 8, 4);
    if (resourceRva == 0)
        return {};

    std::vector<uint8_t> sectionBytes;
    if (!file.Read(pe + 24 + optionalSize, sectionCount * 40, sectionBytes))
        return {};
    const Bytes sections(sectionBytes);
    // The file range that holds length bytes at an RVA, inside one section's raw data.
    auto toOffset = [&](uint64_t rva, uint64_t length, uint64_t& offset) {
        for (uint64_t i = 0; i < sectionCount; ++i) {
            const uint64_t va = sections.Get(i * 40 + 12, 4);
            const uint64_t raw = sections.Get(i * 40 + 16, 4);
            const uint64_t pointer = sections.Get(i * 40 + 20, 4);
            if (rva >= va && rva - va < raw && length <= raw - (rva - va)) {
                offset = pointer + (rva - va);
                return true;
            }
        }
        return false;
    };

    // The resource tree: type 16 (version), then its first name and first
    // language. Directory offsets are relative to the start of the tree, so
    // read the rest of its section and walk that.
    uint64_t treeOffset = 0;
    if (!toOffset(resourceRva, 16, treeOffset))
        return {};
    uint64_t treeLength = 0;
    for (uint64_t i = 0; i < sectionCount; ++i) {
        const uint64_t va = sections.Get(i * 40 + 12, 4);
        const uint64_t raw = sections.Get(i * 40 + 16, 4);
        if (resourceRva >= va && resourceRva - va < raw)
            treeLength = raw - (resourceRva - va);
    }
    treeLength = std::min({treeLength, kMaxTable, file.Size() - std::min(file.Size(), treeOffset)});
    std::vector<uint8_t> treeBytes;
    if (!file.Read(treeOffset, treeLength, treeBytes))
        return {};
    const Bytes tree(treeBytes);
    // The entry of a directory: the first one, or the one with this id.
    auto entry = [&](uint64_t directory, int64_t id, uint64_t& target, bool& isDirectory) {
        if (!tree.Has(directory, 16))
            return false;
        const uint64_t count = tree.Get(directory + 12, 2) + tree.Get(directory + 14, 2);
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t at = directory + 16 + 8 * i;
            if (!tree.Has(at, 8))
                return false;
            const uint64_t name = tree.Get(at, 4);
            if (id >= 0 && ((name & 0x80000000u) != 0 || name != static_cast<uint64_t>(id)))
                continue;
            const uint64_t data = tree.Get(at + 4, 4);
            isDirectory = (data & 0x80000000u) != 0;
            target = data & 0x7FFFFFFFu;
            return true;
        }
        return false;
    };
    uint64_t names = 0, languages = 0, leaf = 0;
    bool dir = false;
    if (!entry(0, 16, names, dir) || !dir)
        return {};
    if (!entry(names, -1, languages, dir) || !dir)
        return {};
    if (!entry(languages, -1, leaf, dir) || dir || !tree.Has(leaf, 8))
        return {};
    const uint64_t dataRva = tree.Get(leaf, 4);
    const uint64_t dataSize = std::min(tree.Get(leaf + 4, 4), kMaxVersionResource);
    uint64_t dataOffset = 0;
    std::vector<uint8_t> resource;
    if (!toOffset(dataRva, dataSize, dataOffset) || !file.Read(dataOffset, dataSize, resource))
        return {};
    return VersionFromResource(resource);
}

}  // namespace

std::string ReadFileVersion(const std::string& path) {
    if (path.empty())
        return {};
    const FileReader file(path);
    std::vector<uint8_t> head;
    if (!file.Read(0, std::min<uint64_t>(file.Size(), 64), head) || head.size() < 4)
        return {};
    if (head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F')
        return ElfVersion(file, head);
    if (head[0] == 'M' && head[1] == 'Z')
        return PeVersion(file, head);
    return {};
}
