#pragma once

#include <string_view>
#include <vector>

typedef struct x509_st X509;
typedef struct ssl_ctx_st SSL_CTX;

namespace engine::http {

// Certificates trusted in addition to the system store (the build's own list,
// e.g. a test CA). Added to every TLS context curl makes.
class TrustAnchors {
  public:
    TrustAnchors() = default;
    ~TrustAnchors();
    TrustAnchors(const TrustAnchors&) = delete;
    TrustAnchors& operator=(const TrustAnchors&) = delete;

    // Reads every certificate of a PEM text; false when none could be read
    // from a non-empty text.
    bool LoadPem(std::string_view pem);
    bool Empty() const { return certs_.empty(); }
    void AddTo(SSL_CTX* context) const;

  private:
    std::vector<X509*> certs_;
};

}  // namespace engine::http
