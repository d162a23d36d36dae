#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/TempDir.h"

namespace tvxtest {

// A real nginx (/usr/sbin/nginx) serving a document root in a temporary
// folder over http and https on free loopback ports, for tests and benchmarks
// of the client against a real server: byte ranges with 206 and 416,
// keep-alive, TLS with a certificate made with the openssl command once per
// process: by default one that the build trusts (signed by the tests' CA for
// 127.0.0.1 and localhost), or one that a client must refuse. It runs as the current user in the
// foreground, as a child of the test process, with configuration, logs and temporary files in its
// own folder; it is stopped and waited for when the object is destroyed, and is killed when the
// thread that created it ends (so a crashed test leaves no server behind).
class NginxServer {
  public:
    // The certificate of the https server.
    enum class Certificate {
        kTrusted,     // signed by the tests' CA for 127.0.0.1 and localhost
        kSelfSigned,  // for 127.0.0.1 and localhost, but signed by nobody trusted
        kWrongHost,   // signed by the tests' CA, for another host only
        kExpired,     // signed by the tests' CA for 127.0.0.1 and localhost, expired
    };

    struct Options {
        // Extra directives inside both server blocks, e.g.
        // "location = /moved { return 302 /target.bin; }" or "limit_rate 1m;".
        std::string serverConfig;
        Certificate certificate = Certificate::kTrusted;
    };

    NginxServer();
    explicit NginxServer(Options options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // False when nginx could not be started; Error() tells why (with its log).
    bool Started() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }

    uint16_t HttpPort() const { return httpPort_; }
    uint16_t HttpsPort() const { return httpsPort_; }
    // "http://127.0.0.1:<port>" and "https://127.0.0.1:<port>" followed by path.
    std::string HttpUrl(std::string_view path = "/") const;
    std::string HttpsUrl(std::string_view path = "/") const;

    // The served folder, ending in "/".
    const std::string& DocumentRoot() const { return root_; }
    // Writes a file below the document root, creating its folders.
    bool WriteFile(std::string_view relativePath, std::string_view content) const;
    // A file of size pseudo-random bytes (the same for the same seed), written
    // in pieces so that large files need little memory.
    bool WritePatternFile(std::string_view relativePath, uint64_t size, uint32_t seed = 1) const;
    // The local path of a file below the document root.
    std::string PathOf(std::string_view relativePath) const;

    std::string ErrorLog() const;
    std::string AccessLog() const;

    // Stops nginx and waits for it to exit; also done by the destructor.
    void Stop();

  private:
    bool Start(const Options& options);

    std::unique_ptr<TempDir> dir_;
    std::string root_;
    std::string error_;
    pid_t pid_ = -1;
    uint16_t httpPort_ = 0;
    uint16_t httpsPort_ = 0;
};

}  // namespace tvxtest
