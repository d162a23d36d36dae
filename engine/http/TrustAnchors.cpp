#include "engine/http/TrustAnchors.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace engine::http {

TrustAnchors::~TrustAnchors() {
    for (X509* cert : certs_)
        X509_free(cert);
}

bool TrustAnchors::LoadPem(std::string_view pem) {
    if (pem.empty())
        return true;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio)
        return false;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr))
        certs_.push_back(cert);
    // The loop ends on the "no more certificates" error; it is not a failure.
    ERR_clear_error();
    BIO_free(bio);
    return !certs_.empty();
}

void TrustAnchors::AddTo(SSL_CTX* context) const {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    for (X509* cert : certs_)
        X509_STORE_add_cert(store, cert);  // a duplicate is refused harmlessly
    ERR_clear_error();
}

}  // namespace engine::http
