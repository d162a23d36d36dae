#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace tvxtest {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(5);

// Starts a program with stdout and stderr going to logPath. The child gets
// SIGKILL when the thread that started it ends, so a crashed test leaves no
// server behind.
pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath) {
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Child: only async-signal-safe calls from here on.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log >= 0) {
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
    }
    if (null >= 0)
        ::dup2(null, STDIN_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Runs a program to its end; its exit status, or -1.
int Run(const std::vector<std::string>& args, const std::string& logPath) {
    const pid_t pid = Spawn(args, logPath);
    if (pid < 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True when pid has exited (and is reaped).
bool Exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

// Two distinct ports that were free a moment ago. nginx may still lose one to
// another process before it binds; Start then tries again.
bool FreePorts(uint16_t& first, uint16_t& second) {
    int fds[2] = {-1, -1};
    uint16_t ports[2] = {0, 0};
    bool ok = true;
    for (int i = 0; i < 2 && ok; ++i) {
        fds[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ok = fds[i] >= 0 &&
             ::bind(fds[i], reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
             ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&address), &size) == 0;
        ports[i] = ntohs(address.sin_port);
    }
    for (const int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    first = ports[0];
    second = ports[1];
    return ok;
}

struct CertificateFiles {
    std::string cert;
    std::string key;
    std::string error;
};

// The hosts of every certificate but the wrong-host one.
const std::string kLoopbackNames = "subjectAltName=DNS:localhost,IP:127.0.0.1";

// Makes one certificate kind in dir; an EC key keeps the openssl runs short.
CertificateFiles MakeCertificate(NginxServer::Certificate kind, const std::string& dir) {
    using Kind = NginxServer::Certificate;
    CertificateFiles files;
    files.cert = dir + "cert.pem";
    files.key = dir + "key.pem";
    const std::string log = dir + "openssl.log";
    const std::string openssl = "/usr/bin/openssl";
    const std::vector<std::string> newKey = {
        "-newkey", "ec",      "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes",  "-keyout", files.key};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), openssl);
        if (files.error.empty() && Run(args, log) != 0)
            files.error = "openssl " + args[1] + " failed: " + ReadFile(log);
    };
    if (kind == Kind::kSelfSigned) {
        std::vector<std::string> args = {"req", "-x509"};
        args.insert(args.end(), newKey.begin(), newKey.end());
        args.insert(args.end(), {"-out", files.cert, "-days", "30", "-subj", "/CN=localhost",
                                 "-addext", kLoopbackNames});
        run(args);
        return files;
    }
    // A request, then the tests' CA signs it with the kind's hosts and dates.
    const std::string request = dir + "request.csr";
    const std::string extensions = dir + "extensions.cnf";
    std::vector<std::string> args = {"req", "-new"};
    args.insert(args.end(), newKey.begin(), newKey.end());
    args.insert(args.end(), {"-out", request, "-subj", "/CN=localhost"});
    run(args);
    if (!tvxtest::WriteFile(extensions, kind == Kind::kWrongHost
                                            ? "subjectAltName=DNS:other.example,IP:192.0.2.1\n"
                                            : kLoopbackNames + "\n"))
        files.error = "cannot write " + extensions;
    // A negative validity ends the certificate a day before it begins: it has
    // expired the moment it exists.
    run({"x509", "-req", "-in", request, "-CA", TVX_TEST_CA_CERT, "-CAkey", TVX_TEST_CA_KEY,
         "-set_serial", std::to_string(1000 + static_cast<int>(kind)), "-days",
         kind == Kind::kExpired ? "-1" : "30", "-extfile", extensions, "-out", files.cert});
    return files;
}

// Each kind of certificate, made once per process.
const CertificateFiles& CertificateOf(NginxServer::Certificate kind) {
    constexpr size_t kKinds = 4;
    static std::once_flag once[kKinds];
    static std::unique_ptr<TempDir> dirs[kKinds];
    static CertificateFiles files[kKinds];
    const size_t index = static_cast<size_t>(kind);
    std::call_once(once[index], [index, kind] {
        dirs[index] = std::make_unique<TempDir>("tvx-cert-");
        files[index] = MakeCertificate(kind, dirs[index]->Path());
    });
    return files[index];
}

std::string Configuration(const std::string& base, const std::string& root, uint16_t httpPort,
                          uint16_t httpsPort, const CertificateFiles& certificate,
                          const std::string& serverConfig) {
    const std::string server = "        root " + root +
                               ";\n"
                               "        server_tokens off;\n" +
                               serverConfig + "\n";
    return "daemon off;\n"
           "master_process off;\n"
           "worker_processes 1;\n"
           "pid " +
           base + "nginx.pid;\n" + "error_log " + base +
           "error.log info;\n"
           "events { worker_connections 512; }\n"
           "http {\n"
           "    access_log " +
           base +
           "access.log;\n"
           "    client_body_temp_path " +
           base + "tmp/body;\n" + "    proxy_temp_path " + base + "tmp/proxy;\n" +
           "    fastcgi_temp_path " + base + "tmp/fastcgi;\n" + "    uwsgi_temp_path " + base +
           "tmp/uwsgi;\n" + "    scgi_temp_path " + base +
           "tmp/scgi;\n"
           "    types { text/plain txt; application/zip zip; application/xml xml; }\n"
           "    default_type application/octet-stream;\n"
           "    sendfile on;\n"
           "    keepalive_timeout 10;\n"
           "    server {\n"
           "        listen 127.0.0.1:" +
           std::to_string(httpPort) + ";\n" + server +
           "    }\n"
           "    server {\n"
           "        listen 127.0.0.1:" +
           std::to_string(httpsPort) +
           " ssl;\n"
           "        ssl_certificate " +
           certificate.cert +
           ";\n"
           "        ssl_certificate_key " +
           certificate.key + ";\n" + server +
           "    }\n"
           "}\n";
}

}  // namespace

NginxServer::NginxServer() : NginxServer(Options{}) {}

NginxServer::NginxServer(Options options) {
    dir_ = std::make_unique<TempDir>("tvx-nginx-");
    root_ = dir_->Path() + "www/";
    if (dir_->Path().empty() || !MakeDirs(root_) || !MakeDirs(dir_->Path() + "tmp")) {
        error_ = "cannot create the server's folders";
        return;
    }
    Start(options);
}

NginxServer::~NginxServer() {
    Stop();
}

bool NginxServer::Start(const Options& options) {
    const CertificateFiles& certificate = CertificateOf(options.certificate);
    if (!certificate.error.empty()) {
        error_ = certificate.error;
        return false;
    }
    const std::string base = dir_->Path();
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!FreePorts(httpPort_, httpsPort_)) {
            error_ = "no free loopback port";
            return false;
        }
        const std::string conf = base + "nginx.conf";
        std::filesystem::remove(base + "nginx.pid");
        std::filesystem::remove(base + "error.log");
        if (!tvxtest::WriteFile(conf, Configuration(base, root_, httpPort_, httpsPort_, certificate,
                                                    options.serverConfig))) {
            error_ = "cannot write " + conf;
            return false;
        }
        const pid_t pid =
            Spawn({kNginx, "-p", base, "-c", conf, "-e", base + "error.log"}, base + "stderr.log");
        if (pid < 0) {
            error_ = "cannot start nginx";
            return false;
        }
        // nginx writes its pid file once its sockets listen.
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        bool exited = false;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Exited(pid)) {
                exited = true;
                break;
            }
            const std::string pidText = ReadFile(base + "nginx.pid");
            if (std::strtol(pidText.c_str(), nullptr, 10) == pid) {
                pid_ = pid;
                error_.clear();
                return true;
            }
            std::this_thread::sleep_for(kPollStep);
        }
        if (!exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            error_ = "nginx did not start in time: " + ErrorLog();
            return false;
        }
        error_ = "nginx exited: " + ErrorLog() + ReadFile(base + "stderr.log");
        if (error_.find("Address already in use") == std::string::npos)
            return false;
    }
    return false;
}

void NginxServer::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    while (!Exited(pid_)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    pid_ = -1;
}

std::string NginxServer::HttpUrl(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + std::string(path);
}

std::string NginxServer::HttpsUrl(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(httpsPort_) + std::string(path);
}

std::string NginxServer::PathOf(std::string_view relativePath) const {
    while (!relativePath.empty() && relativePath.front() == '/')
        relativePath.remove_prefix(1);
    return root_ + std::string(relativePath);
}

bool NginxServer::WriteFile(std::string_view relativePath, std::string_view content) const {
    const std::string path = PathOf(relativePath);
    MakeDirs(std::filesystem::path(path).parent_path().string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

bool NginxServer::WritePatternFile(std::string_view relativePath, uint64_t size,
                                   uint32_t seed) const {
    const std::string path = PathOf(relativePath);
    MakeDirs(std::filesystem::path(path).parent_path().string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
    std::vector<char> block(1 << 20);
    for (uint64_t left = size; left > 0 && out;) {
        const size_t count = left < block.size() ? static_cast<size_t>(left) : block.size();
        for (size_t i = 0; i < count; i += 8) {
            // xorshift64*: fast, and different at every offset
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            const uint64_t value = state * 0x2545F4914F6CDD1Dull;
            for (size_t b = 0; b < 8 && i + b < count; ++b)
                block[i + b] = static_cast<char>(value >> (8 * b));
        }
        out.write(block.data(), static_cast<std::streamsize>(count));
        left -= count;
    }
    return static_cast<bool>(out);
}

std::string NginxServer::ErrorLog() const {
    return ReadFile(dir_->Path() + "error.log");
}

std::string NginxServer::AccessLog() const {
    return ReadFile(dir_->Path() + "access.log");
}

}  // namespace tvxtest
