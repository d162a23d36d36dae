// tvx-demo-host: downloads the game's file list into a folder through the
// download library, the way the launcher window does, on a terminal.
//
//   tvx-demo-host [--list URL] [--dest DIR] [--mode N] [--quiet]
//
// Exits 0 when the job completed, 1 on any failure, 2 on a bad command line,
// and 128 + the signal number when stopped by SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "DemoHost.h"
#include "platform/Paths.h"
#include "tvx/BuiltinConfig.h"

namespace {

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: tvx-demo-host [--list URL] [--dest DIR] [--mode N] [--quiet]\n"
                 "  --list URL  the file list, one URL per line (default %s)\n"
                 "  --dest DIR  the download folder (default ~/Download/%s/)\n"
                 "  --mode N    job mode: 1 high-speed, 0 normal (384 KiB/s) (default 1)\n"
                 "  --quiet     print only errors and the final summary\n",
                 tvx::config::kFileListUrl, tvx::config::kFolderName);
}

bool ParseMode(std::string_view text, uint8_t& mode) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 255)
        return false;
    mode = static_cast<uint8_t>(value);
    return true;
}

// 0 when the command line is good, else the exit code to end with.
int ParseOptions(int argc, char** argv, DemoHostOptions& options) {
    options.listUrl = tvx::config::kFileListUrl;
    const std::string home = platform::HomeFolder();
    if (!home.empty())
        options.dest = home + "Download/" + tvx::config::kFolderName + "/";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return -1;
        }
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg != "--list" && arg != "--dest" && arg != "--mode") {
            std::fprintf(stderr, "tvx-demo-host: unknown option %s\n", argv[i]);
            Usage(stderr);
            return demo_exit::kUsage;
        }
        if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) {
            std::fprintf(stderr, "tvx-demo-host: %s needs a value\n", argv[i]);
            Usage(stderr);
            return demo_exit::kUsage;
        }
        const std::string_view value = argv[++i];
        if (arg == "--list") {
            options.listUrl = value;
        } else if (arg == "--dest") {
            options.dest = platform::WithTrailingSlash(std::string(value));
        } else if (!ParseMode(value, options.mode)) {
            std::fprintf(stderr, "tvx-demo-host: bad mode %s (0 to 255)\n", argv[i]);
            return demo_exit::kUsage;
        }
    }
    if (options.dest.empty()) {
        std::fprintf(stderr, "tvx-demo-host: no download folder: give --dest (HOME is not set)\n");
        return demo_exit::kUsage;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    DemoHostOptions options;
    if (const int code = ParseOptions(argc, argv, options); code != 0)
        return code < 0 ? 0 : code;

    // SIGINT and SIGTERM are blocked in every thread (the library's worker
    // inherits the mask) and taken by one thread that turns them into a stop
    // request for the host's loop; SIGUSR1 ends that thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    DemoHost host(std::move(options), stdout, stderr);
    std::thread waiter([&host, signals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0 || signal == SIGUSR1)
                return;
            host.RequestStop(signal);
        }
    });
    const int code = host.Run();
    pthread_kill(waiter.native_handle(), SIGUSR1);
    waiter.join();
    return code;
}
