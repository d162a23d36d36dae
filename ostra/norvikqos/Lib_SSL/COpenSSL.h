#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ostra/norvikqos/object/qvResult.h"

typedef struct ssl_st SSL;

// A TLS client session over OpenSSL that does no socket I/O of its own: the
// ciphertext it reads is what the connection has just delivered (offered for
// the length of one call), and every ciphertext write goes straight to the
// owner through a callback. One session per TLS layer, on the worker thread.
class COpenSSL {
  public:
    struct Callbacks {
        void (*sendCiphertext)(const uint8_t* data, size_t length, void* context) = nullptr;
        void (*handshakeDone)(void* context) = nullptr;
        void (*plaintextReceived)(const uint8_t* data, size_t length, void* context) = nullptr;
        void* context = nullptr;
    };

    // Module start and stop: library initialisation, the program's BIO method
    // ("velmora BIO") and the one client context every session is made from.
    // The context verifies the server's chain against the system's trust store
    // (OpenSSL's default paths: Debian's ca-certificates) and the trusted list.
    // Cleanup also frees the trusted-certificate list. While sessions are
    // alive, the method is freed after the last one ends (each session holds
    // its own reference to the context).
    static qvResult Startup();
    static void Cleanup();
    // Reads one PEM certificate into the trusted list; it becomes a trust
    // anchor of every session made from then on.
    static qvResult AddTrustedCertificate(const char* name, const char* pem);
    static size_t TrustedCertificateCount();
    // True between Startup and the moment Cleanup takes effect.
    static bool IsStarted();

    // A new session that accepts only a server whose certificate names
    // serverName: a host name (also sent as SNI) or an IPv4 or IPv6 literal
    // (matched against the certificate's IP addresses, no SNI). Without a
    // name there is nothing to check the server against, so no session.
    static std::unique_ptr<COpenSSL> Create(const Callbacks& callbacks, const char* serverName);
    ~COpenSSL();
    COpenSSL(const COpenSSL&) = delete;
    COpenSSL& operator=(const COpenSSL&) = delete;

    // Starts the handshake (the ClientHello goes out through the callback).
    qvResult Connect();
    // Offers ciphertext to the handshake; consumed tells how much was taken.
    qvResult HandshakeInput(const uint8_t* data, size_t length, size_t& consumed);
    // Offers ciphertext for one read of plaintext.
    qvResult ReadInput(const uint8_t* data, size_t length, size_t& consumed);
    // Encrypts and sends; success only when the whole length was taken.
    qvResult Write(const uint8_t* data, size_t length);
    // True while OpenSSL runs a call of this session: a callback from inside it
    // (the ciphertext going down) must not call the session again, since
    // OpenSSL is not re-entrant.
    bool InOpenSsl() const { return openSslDepth_ > 0; }
    // After a failed handshake: OpenSSL's reason when the server's certificate
    // was refused, else null.
    const char* VerifyFailure() const;

  private:
    struct BioAccess;
    COpenSSL();
    template <class Call>
    int Guarded(Call call) {
        ++openSslDepth_;
        const int result = call();
        --openSslDepth_;
        return result;
    }

    Callbacks callbacks_;
    SSL* ssl_ = nullptr;
    // The ciphertext offered during one call; none between calls.
    const uint8_t* input_ = nullptr;
    size_t inputLength_ = 0;
    size_t inputRead_ = 0;
    unsigned openSslDepth_ = 0;
};
