#pragma once

// A self-signed certificate for the TLS peers that tests make.
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

namespace tlstest {

// A self-signed certificate on a fresh P-256 key, made once per process.
struct Identity {
    // The certificate as PEM text.
    std::string Pem() const {
        BIO* memory = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(memory, certificate);
        char* data = nullptr;
        const long length = BIO_get_mem_data(memory, &data);
        std::string text(data, static_cast<size_t>(length));
        BIO_free(memory);
        return text;
    }

    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;

    static const Identity& Get() {
        static const Identity identity = Make();
        return identity;
    }

  private:
    static Identity Make() {
        Identity id;
        EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
        EVP_PKEY_keygen_init(pctx);
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(pctx, NID_X9_62_prime256v1);
        EVP_PKEY_keygen(pctx, &id.key);
        EVP_PKEY_CTX_free(pctx);
        id.certificate = X509_new();
        X509_set_version(id.certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(id.certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(id.certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(id.certificate), 3600);
        X509_set_pubkey(id.certificate, id.key);
        X509_NAME* name = X509_get_subject_name(id.certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("tls.test"), -1, -1, 0);
        X509_set_issuer_name(id.certificate, name);
        X509_sign(id.certificate, id.key, EVP_sha256());
        return id;
    }
};

}  // namespace tlstest
