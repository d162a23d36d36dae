#include "util/Ed25519.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdFree {
    void operator()(EVP_MD_CTX* md) const { EVP_MD_CTX_free(md); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

Bio ReadBio(std::string_view pem) {
    if (pem.empty() || pem.size() > 65536)
        return nullptr;
    return Bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

Key ReadPrivate(std::string_view pem) {
    Bio bio = ReadBio(pem);
    if (!bio)
        return nullptr;
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

Key ReadPublic(std::string_view pem) {
    Bio bio = ReadBio(pem);
    if (!bio)
        return nullptr;
    Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

std::optional<std::string> BioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    if (length <= 0 || !data)
        return std::nullopt;
    return std::string(data, static_cast<size_t>(length));
}

std::optional<std::string> PublicPem(EVP_PKEY* key) {
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PUBKEY(out.get(), key) != 1)
        return std::nullopt;
    return BioText(out.get());
}

}  // namespace

std::optional<Ed25519KeyPair> GenerateEd25519KeyPair() {
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1)
        return std::nullopt;
    Key key(raw);
    Bio out(BIO_new(BIO_s_mem()));
    if (!out ||
        PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return std::nullopt;
    std::optional<std::string> privatePem = BioText(out.get());
    std::optional<std::string> publicPem = PublicPem(key.get());
    if (!privatePem || !publicPem)
        return std::nullopt;
    return Ed25519KeyPair{std::move(*privatePem), std::move(*publicPem)};
}

std::optional<std::string> Ed25519PublicPemOf(std::string_view privatePem) {
    Key key = ReadPrivate(privatePem);
    if (!key)
        return std::nullopt;
    return PublicPem(key.get());
}

std::optional<Ed25519Signature> SignEd25519(std::string_view privatePem, std::string_view message) {
    Key key = ReadPrivate(privatePem);
    std::unique_ptr<EVP_MD_CTX, MdFree> md(EVP_MD_CTX_new());
    if (!key || !md || EVP_DigestSignInit(md.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return std::nullopt;
    Ed25519Signature signature{};
    size_t length = signature.size();
    if (EVP_DigestSign(md.get(), signature.data(), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        length != signature.size())
        return std::nullopt;
    return signature;
}

bool VerifyEd25519(std::string_view publicPem, std::string_view message,
                   const Ed25519Signature& signature) {
    Key key = ReadPublic(publicPem);
    std::unique_ptr<EVP_MD_CTX, MdFree> md(EVP_MD_CTX_new());
    if (!key || !md || EVP_DigestVerifyInit(md.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(md.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}
