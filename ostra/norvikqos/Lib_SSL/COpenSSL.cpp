#include "ostra/norvikqos/Lib_SSL/COpenSSL.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

BIO_METHOD* gMethod = nullptr;
// Sessions alive, and whether Cleanup waits for the last of them: the method
// must outlive every BIO made from it, and connections may still be held by
// the deferred-release collector when the network stops.
size_t gSessions = 0;
bool gCleanupPending = false;

void FreeMethod() {
    BIO_meth_free(gMethod);
    gMethod = nullptr;
    gCleanupPending = false;
}

struct TrustedCertificate {
    std::string name;
    X509* certificate = nullptr;
};
std::vector<TrustedCertificate> gTrusted;

constexpr size_t kTrustedNameMax = 255;
constexpr int kReadBuffer = 24576;

}  // namespace

// The BIO functions reach the session's private input through here.
struct COpenSSL::BioAccess {
    static int Write(BIO* bio, const char* data, int length) {
        BIO_clear_retry_flags(bio);
        if (!data || length < 0)
            return -1;
        auto* session = static_cast<COpenSSL*>(BIO_get_data(bio));
        if (session && session->callbacks_.sendCiphertext)
            session->callbacks_.sendCiphertext(reinterpret_cast<const uint8_t*>(data),
                                               static_cast<size_t>(length),
                                               session->callbacks_.context);
        return length;
    }
    static int Read(BIO* bio, char* buffer, int length) {
        BIO_clear_retry_flags(bio);
        auto* session = static_cast<COpenSSL*>(BIO_get_data(bio));
        if (session && session->input_ && session->inputRead_ < session->inputLength_ &&
            length > 0) {
            size_t n = session->inputLength_ - session->inputRead_;
            if (n > static_cast<size_t>(length))
                n = static_cast<size_t>(length);
            std::memcpy(buffer, session->input_ + session->inputRead_, n);
            session->inputRead_ += n;
            return static_cast<int>(n);
        }
        BIO_set_retry_read(bio);
        return -1;
    }
    static int Puts(BIO* bio, const char* text) {
        return Write(bio, text, text ? static_cast<int>(std::strlen(text)) : 0);
    }
    static long Control(BIO* bio, int command, long arg, void*) {
        switch (command) {
            case BIO_CTRL_GET_CLOSE:
                return BIO_get_shutdown(bio);
            case BIO_CTRL_SET_CLOSE:
                BIO_set_shutdown(bio, static_cast<int>(arg));
                return 1;
            case BIO_CTRL_FLUSH:
            case BIO_CTRL_DUP:
                return 1;
            default:
                return 0;
        }
    }
    static int Create(BIO* bio) {
        BIO_set_init(bio, 1);
        return 1;
    }
    static int Destroy(BIO*) { return 1; }

    // Runs one OpenSSL call with data offered as the current input.
    template <class Call>
    static int WithInput(COpenSSL& session, const uint8_t* data, size_t length, size_t& consumed,
                         Call call) {
        session.input_ = data;
        session.inputLength_ = length;
        session.inputRead_ = 0;
        const int result = call();
        consumed = session.inputRead_;
        session.input_ = nullptr;
        session.inputLength_ = session.inputRead_ = 0;
        return result;
    }
};

qvResult COpenSSL::Startup() {
    OPENSSL_init_ssl(0, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    gCleanupPending = false;
    if (gMethod)
        return qv::kOk;
    gMethod = BIO_meth_new(0, "velmora BIO");
    if (!gMethod)
        return qv::kFail;
    BIO_meth_set_write(gMethod, &BioAccess::Write);
    BIO_meth_set_read(gMethod, &BioAccess::Read);
    BIO_meth_set_puts(gMethod, &BioAccess::Puts);
    BIO_meth_set_ctrl(gMethod, &BioAccess::Control);
    BIO_meth_set_create(gMethod, &BioAccess::Create);
    BIO_meth_set_destroy(gMethod, &BioAccess::Destroy);
    return qv::kOk;
}

void COpenSSL::Cleanup() {
    for (TrustedCertificate& entry : gTrusted)
        X509_free(entry.certificate);
    gTrusted.clear();
    if (!gMethod)
        return;
    if (gSessions > 0)
        gCleanupPending = true;
    else
        FreeMethod();
}

qvResult COpenSSL::AddTrustedCertificate(const char* name, const char* pem) {
    if (!name || !pem)
        return qv::kFail;
    BIO* memory = BIO_new_mem_buf(pem, -1);
    if (!memory)
        return qv::kFail;
    X509* certificate = PEM_read_bio_X509(memory, nullptr, nullptr, nullptr);
    BIO_free(memory);
    if (!certificate)
        return qv::kFail;
    gTrusted.push_back(
        TrustedCertificate{std::string(name).substr(0, kTrustedNameMax), certificate});
    return qv::kOk;
}

size_t COpenSSL::TrustedCertificateCount() {
    return gTrusted.size();
}

std::unique_ptr<COpenSSL> COpenSSL::Create(const Callbacks& callbacks, const char* serverName) {
    if (!gMethod && qv::Failed(Startup()))
        return nullptr;
    if (gCleanupPending)
        gCleanupPending = false;  // a new session keeps the module running
    std::unique_ptr<COpenSSL> session(new COpenSSL());
    session->callbacks_ = callbacks;
    session->ctx_ = SSL_CTX_new(TLS_client_method());
    if (!session->ctx_)
        return nullptr;
    session->ssl_ = SSL_new(session->ctx_);
    if (!session->ssl_)
        return nullptr;
    BIO* readBio = BIO_new(gMethod);
    BIO* writeBio = BIO_new(gMethod);
    if (!readBio || !writeBio) {
        BIO_free(readBio);
        BIO_free(writeBio);
        return nullptr;
    }
    BIO_set_data(readBio, session.get());
    BIO_set_data(writeBio, session.get());
    SSL_set_bio(session->ssl_, readBio, writeBio);
    if (serverName && *serverName)
        SSL_set_tlsext_host_name(session->ssl_, serverName);
    SSL_set_connect_state(session->ssl_);
    return session;
}

COpenSSL::COpenSSL() {
    ++gSessions;
}

COpenSSL::~COpenSSL() {
    if (ssl_)
        SSL_free(ssl_);
    if (ctx_)
        SSL_CTX_free(ctx_);
    if (--gSessions == 0 && gCleanupPending)
        FreeMethod();
}

qvResult COpenSSL::Connect() {
    ERR_clear_error();
    const int result = SSL_connect(ssl_);
    if (result == 1 || SSL_get_error(ssl_, result) == SSL_ERROR_WANT_READ)
        return qv::kOk;
    return qv::kFail;
}

qvResult COpenSSL::HandshakeInput(const uint8_t* data, size_t length, size_t& consumed) {
    ERR_clear_error();
    const int result =
        BioAccess::WithInput(*this, data, length, consumed, [this] { return SSL_connect(ssl_); });
    if (result == 1) {
        if (callbacks_.handshakeDone)
            callbacks_.handshakeDone(callbacks_.context);
        return qv::kOk;
    }
    return SSL_get_error(ssl_, result) == SSL_ERROR_WANT_READ ? qv::kOk : qv::kFail;
}

qvResult COpenSSL::ReadInput(const uint8_t* data, size_t length, size_t& consumed) {
    ERR_clear_error();
    uint8_t buffer[kReadBuffer];
    const int result = BioAccess::WithInput(*this, data, length, consumed,
                                            [&] { return SSL_read(ssl_, buffer, sizeof buffer); });
    if (result > 0) {
        if (callbacks_.plaintextReceived)
            callbacks_.plaintextReceived(buffer, static_cast<size_t>(result), callbacks_.context);
        return qv::kOk;
    }
    return SSL_get_error(ssl_, result) == SSL_ERROR_WANT_READ ? qv::kOk : qv::kFail;
}

qvResult COpenSSL::Write(const uint8_t* data, size_t length) {
    if (length == 0)
        return qv::kOk;
    ERR_clear_error();
    const int written = SSL_write(ssl_, data, static_cast<int>(length));
    return written == static_cast<int>(length) ? qv::kOk : qv::kFail;
}

bool COpenSSL::IsStarted() {
    return gMethod != nullptr && !gCleanupPending;
}
