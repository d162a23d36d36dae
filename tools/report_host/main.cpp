// tvx-report-host: records the per-file reports of the downloader.
//
//   tvx-report-host [--address A] [--port N] [--out FILE] [--ready-fd N]
//
// Listens on A:N (127.0.0.1:54547 by default; port 0 picks a free one), prints
// "listening <port>" on stdout once it accepts connections (also written to the
// descriptor of --ready-fd, which is then closed), and appends one JSON line per
// received report record to FILE (reports.jsonl by default). Exits 0 on SIGTERM
// or SIGINT, 1 when it cannot start, 2 on a bad command line.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "ReportHost.h"

namespace {

void Usage(std::FILE* to) {
    std::fputs(
        "usage: tvx-report-host [--address A] [--port N] [--out FILE] [--ready-fd N]\n"
        "  --address A   IPv4 address to listen on (default 127.0.0.1)\n"
        "  --port N      TCP port, 0 for any free port (default 54547)\n"
        "  --out FILE    JSON lines file the records are appended to (default reports.jsonl)\n"
        "  --ready-fd N  descriptor that gets \"listening <port>\" once accepting\n",
        to);
}

template <class T>
bool ParseNumber(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
    ReportHostOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "tvx-report-host: %s needs a value\n", argv[i]);
            Usage(stderr);
            return 2;
        }
        const std::string_view value = argv[++i];
        bool ok = true;
        if (arg == "--address")
            options.address = value;
        else if (arg == "--port")
            ok = ParseNumber(value, options.port);
        else if (arg == "--out")
            options.outPath = value;
        else if (arg == "--ready-fd")
            ok = ParseNumber(value, options.readyFd) && options.readyFd >= 0;
        else
            ok = false;
        if (!ok || (arg == "--out" && value.empty())) {
            std::fprintf(stderr, "tvx-report-host: bad option %s %s\n", argv[i - 1], argv[i]);
            Usage(stderr);
            return 2;
        }
    }

    ::signal(SIGPIPE, SIG_IGN);
    ReportHost host(std::move(options));
    std::string error;
    if (!host.Start(error)) {
        std::fprintf(stderr, "tvx-report-host: %s\n", error.c_str());
        return 1;
    }
    return host.Run();
}
