#include "util/Sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

struct CSha256::Context {
    EVP_MD_CTX* md = nullptr;
};

CSha256::CSha256() : context_(new Context) {
    context_->md = EVP_MD_CTX_new();
    Reset();
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(context_->md);
    delete context_;
}

void CSha256::Reset() {
    EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr);
    length_ = 0;
}

void CSha256::Update(const void* data, size_t length) {
    if (length == 0)
        return;
    EVP_DigestUpdate(context_->md, data, length);
    length_ += length;
}

Sha256Digest CSha256::Final() {
    Sha256Digest digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_->md, digest.data(), &size);
    Reset();
    return digest;
}

Sha256Digest CSha256::Of(std::string_view bytes) {
    CSha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Final();
}

std::string Sha256Hex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
    if (text.size() != 64)
        return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Sha256Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return digest;
}

std::optional<FileHash> HashFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file)
        return std::nullopt;
    CSha256 hash;
    std::vector<char> buffer(1 << 20);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        hash.Update(buffer.data(), got);
    if (std::ferror(file.get()))
        return std::nullopt;
    const auto size = static_cast<int64_t>(hash.Length());
    return FileHash{hash.Final(), size};
}
