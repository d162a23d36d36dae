// vrDownload.exe: the local download engine. Started without arguments by the
// library; listens on 127.0.0.1:57006, tells its starter it is ready through
// the pipe named by TVX_READY_FD, and ends by itself once nobody has used it
// for a while.
#include <curl/curl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/app/Engine.h"
#include "engine/app/EngineLog.h"
#include "engine/app/SettingsFile.h"
#include "engine/http/CurlBackend.h"
#include "engine/http/TrustAnchors.h"
#include "engine/torrent/PeerBackend.h"
#include "engine/tvx/EngineBuild.h"
#include "platform/EventLoop.h"

// The version the library reads from the program file.
extern "C" __attribute__((used, section(".fileversion"))) const char kTvxEngineFileVersion[] =
    TVX_ENGINE_VERSION;

namespace {

// Ends the loop on SIGTERM or SIGINT so that open files are closed in order.
class SignalWatch final : public platform::IFdHandler {
  public:
    explicit SignalWatch(platform::EventLoop& loop) : loop_(loop) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ >= 0)
            loop_.Watch(fd_, 1 /* EPOLLIN */, this);
    }
    ~SignalWatch() {
        if (fd_ >= 0) {
            loop_.Unwatch(fd_, this);
            ::close(fd_);
        }
    }
    void OnFdReady(uint32_t) override { loop_.Quit(); }

  private:
    platform::EventLoop& loop_;
    int fd_ = -1;
};

std::chrono::milliseconds IdleLimit() {
    // Only tests shorten the idle time; the program itself always waits 60 s.
    if (const char* value = std::getenv("TVX_ENGINE_IDLE_MS")) {
        char* end = nullptr;
        const long long ms = std::strtoll(value, &end, 10);
        if (end != value && *end == '\0' && ms > 0)
            return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(60000);
}

// Only tests (and the swarm bench, which runs several engines side by side)
// move the link port; the library always connects to 57006.
uint16_t PortFromEnvironment(const char* name, uint16_t fallback) {
    if (const char* value = std::getenv(name)) {
        char* end = nullptr;
        const long port = std::strtol(value, &end, 10);
        if (end != value && *end == '\0' && port > 0 && port <= 65535)
            return static_cast<uint16_t>(port);
    }
    return fallback;
}

void SignalReady() {
    const char* value = std::getenv("TVX_READY_FD");
    if (!value)
        return;
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    unsetenv("TVX_READY_FD");
    if (end == value || *end != '\0' || fd < 0)
        return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(fd), &byte, 1);
    ::close(static_cast<int>(fd));
}

}  // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return 1;
    int status = 1;
    {
        engine::app::EngineLog log(engine::app::EngineFolder());
        log.SetEchoToStandardError(true);
        log.Write(std::string("vrDownload ") + kTvxEngineFileVersion + " starting");
        platform::EventLoop loop;
        engine::http::TrustAnchors anchors;
        if (!anchors.LoadPem(engine::build::kTrustedPem))
            log.Write("the built-in trusted certificates could not be read");
        engine::http::CurlBackend http(loop, anchors);
        std::vector<std::string> problems;
        engine::torrent::PeerSettings peerSettings =
            engine::app::LoadPeerSettings(engine::app::EngineFolder(), problems);
        for (const std::string& problem : problems)
            log.Write("settings: " + problem);
        peerSettings.listenPort =
            PortFromEnvironment("TVX_ENGINE_PEER_PORT", peerSettings.listenPort);
        engine::torrent::PeerBackend backend(loop, http, peerSettings,
                                             [&log](std::string_view line) { log.Write(line); });
        SignalWatch signals(loop);
        engine::app::EngineSettings settings;
        settings.idleLimit = IdleLimit();
        settings.port = PortFromEnvironment("TVX_ENGINE_LINK_PORT", settings.port);
        engine::app::Engine engine(loop, backend, log, settings);
        if (loop.IsValid() && http.IsValid() && backend.IsValid() && engine.Start()) {
            log.SetEchoToStandardError(false);
            SignalReady();
            loop.Run();
            status = 0;
        }
        // The reason stays the last line on standard error.
        log.SetEchoToStandardError(false);
        log.Write(status == 0 ? "ended" : "could not start");
    }
    curl_global_cleanup();
    return status;
}
