#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ostra/norvikqos/object/qvResult.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

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

    // Module start and stop: library initialisation and the program's BIO method
    // ("velmora BIO"); Cleanup also frees the trusted-certificate list. While
    // sessions are alive, the method is freed after the last one ends.
    static qvResult Startup();
    static void Cleanup();
    // Reads one PEM certificate into the trusted list (which no session uses).
    static qvResult AddTrustedCertificate(const char* name, const char* pem);
    static size_t TrustedCertificateCount();
    // True between Startup and the moment Cleanup takes effect.
    static bool IsStarted();

    // A new session; serverName, when given, goes out as SNI.
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

  private:
    struct BioAccess;
    COpenSSL();

    Callbacks callbacks_;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    // The ciphertext offered during one call; none between calls.
    const uint8_t* input_ = nullptr;
    size_t inputLength_ = 0;
    size_t inputRead_ = 0;
};
