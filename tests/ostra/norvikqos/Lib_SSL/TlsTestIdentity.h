#pragma once

// Server identities for the TLS peers that tests make.
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <string>

namespace tlstest {

// A certificate on a fresh P-256 key for the host "tls.test" and 127.0.0.1,
// made once per process: Get() is signed by the tests' CA, which the build
// trusts; Untrusted() signs itself; Expired() is signed by the tests' CA but
// ended an hour ago.
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
        static const Identity identity = Make(true, false);
        return identity;
    }
    static const Identity& Untrusted() {
        static const Identity identity = Make(false, false);
        return identity;
    }
    static const Identity& Expired() {
        static const Identity identity = Make(true, true);
        return identity;
    }

  private:
    template <class T>
    static T* ReadPem(const char* path, T* (*read)(FILE*, T**, pem_password_cb*, void*)) {
        FILE* file = std::fopen(path, "r");
        if (!file)
            return nullptr;
        T* value = read(file, nullptr, nullptr, nullptr);
        std::fclose(file);
        return value;
    }

    static Identity Make(bool signedByTestCa, bool expired) {
        Identity id;
        EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
        EVP_PKEY_keygen_init(pctx);
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(pctx, NID_X9_62_prime256v1);
        EVP_PKEY_keygen(pctx, &id.key);
        EVP_PKEY_CTX_free(pctx);
        id.certificate = X509_new();
        X509_set_version(id.certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(id.certificate),
                         (signedByTestCa ? 2 : 1) + (expired ? 2 : 0));
        X509_gmtime_adj(X509_getm_notBefore(id.certificate), expired ? -7200 : 0);
        X509_gmtime_adj(X509_getm_notAfter(id.certificate), expired ? -3600 : 3600);
        X509_set_pubkey(id.certificate, id.key);
        X509_NAME* name = X509_get_subject_name(id.certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("tls.test"), -1, -1, 0);
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, nullptr, id.certificate, nullptr, nullptr, 0);
        X509_EXTENSION* names =
            X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "DNS:tls.test,IP:127.0.0.1");
        X509_add_ext(id.certificate, names, -1);
        X509_EXTENSION_free(names);

        X509* ca = signedByTestCa ? ReadPem<X509>(TVX_TEST_CA_CERT, &PEM_read_X509) : nullptr;
        EVP_PKEY* caKey =
            signedByTestCa ? ReadPem<EVP_PKEY>(TVX_TEST_CA_KEY, &PEM_read_PrivateKey) : nullptr;
        X509_set_issuer_name(id.certificate, ca ? X509_get_subject_name(ca) : name);
        X509_sign(id.certificate, caKey ? caKey : id.key, EVP_sha256());
        X509_free(ca);
        EVP_PKEY_free(caKey);
        return id;
    }
};

}  // namespace tlstest
