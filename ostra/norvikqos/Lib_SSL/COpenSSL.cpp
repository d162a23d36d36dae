#include "ostra/norvikqos/Lib_SSL/COpenSSL.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/IpAddress.h"

namespace {

BIO_METHOD* gMethod = nullptr;
// The client context of every session; sessions hold references of their own.
SSL_CTX* gContext = nullptr;
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

// The context that verifies servers: the system's trust store, the trusted
// list made so far, and a refused certificate ends the handshake.
SSL_CTX* MakeContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // Without a system store (no ca-certificates) only the trusted list
    // counts; that is no reason to refuse every server.
    SSL_CTX_set_default_verify_paths(context);
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    for (const TrustedCertificate& entry : gTrusted)
        X509_STORE_add_cert(store, entry.certificate);
    ERR_clear_error();
    return context;
}

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
        const int result = session.Guarded(call);
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
    if (!gContext) {
        gContext = MakeContext();
        if (!gContext)
            return qv::kFail;
    }
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
    SSL_CTX_free(gContext);
    gContext = nullptr;
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
    // Adding a certificate the store already holds is no failure.
    if (gContext)
        X509_STORE_add_cert(SSL_CTX_get_cert_store(gContext), certificate);
    ERR_clear_error();
    gTrusted.push_back(
        TrustedCertificate{std::string(name).substr(0, kTrustedNameMax), certificate});
    return qv::kOk;
}

size_t COpenSSL::TrustedCertificateCount() {
    return gTrusted.size();
}

std::unique_ptr<COpenSSL> COpenSSL::Create(const Callbacks& callbacks, const char* serverName) {
    if (!serverName || !*serverName)
        return nullptr;
    if ((!gMethod || !gContext) && qv::Failed(Startup()))
        return nullptr;
    if (gCleanupPending)
        gCleanupPending = false;  // a new session keeps the module running
    std::unique_ptr<COpenSSL> session(new COpenSSL());
    session->callbacks_ = callbacks;
    session->ssl_ = SSL_new(gContext);
    if (!session->ssl_)
        return nullptr;
    if (platform::IsIpAddressLiteral(serverName)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->ssl_), serverName) != 1)
            return nullptr;
    } else {
        SSL_set_hostflags(session->ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(session->ssl_, serverName) != 1 ||
            SSL_set_tlsext_host_name(session->ssl_, serverName) != 1)
            return nullptr;
    }
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
    SSL_set_connect_state(session->ssl_);
    return session;
}

COpenSSL::COpenSSL() {
    ++gSessions;
}

COpenSSL::~COpenSSL() {
    if (ssl_)
        SSL_free(ssl_);
    if (--gSessions == 0 && gCleanupPending)
        FreeMethod();
}

qvResult COpenSSL::Connect() {
    ERR_clear_error();
    const int result = Guarded([this] { return SSL_connect(ssl_); });
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
    if (InOpenSsl())
        return qv::kFail;
    const int written = Guarded([&] { return SSL_write(ssl_, data, static_cast<int>(length)); });
    return written == static_cast<int>(length) ? qv::kOk : qv::kFail;
}

const char* COpenSSL::VerifyFailure() const {
    const long result = SSL_get_verify_result(ssl_);
    return result == X509_V_OK ? nullptr : X509_verify_cert_error_string(result);
}

bool COpenSSL::IsStarted() {
    return gMethod != nullptr && gContext != nullptr && !gCleanupPending;
}
