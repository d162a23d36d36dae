#include "util/Sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "util/HexText.h"

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
    return HexText(digest);
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
    Sha256Digest digest{};
    if (!ParseHexText(text, digest))
        return std::nullopt;
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
