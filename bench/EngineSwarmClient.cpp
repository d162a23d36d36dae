// One engine of the swarm bench (bench/swarm.sh), driven by the link's test
// client: hands the engine on 127.0.0.1:PORT one job and waits for its end.
//   bench_EngineSwarmClient PORT FOLDER SIZE URL [SIZE URL...]
// Prints the job's wall time in seconds; exit status 0 when it completed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/EngineTestSupport.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"

int main(int argc, char** argv) {
    if (argc < 5 || (argc - 3) % 2 != 0) {
        std::fprintf(stderr, "usage: %s PORT FOLDER SIZE URL [SIZE URL...]\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
    const std::string folder = argv[2];
    std::vector<std::string> names, urls;
    std::vector<nwCDNJobListEntry> entries;
    for (int i = 3; i + 1 < argc; i += 2) {
        urls.emplace_back(argv[i + 1]);
        names.push_back(urls.back().substr(urls.back().rfind('/') + 1));
    }
    for (std::size_t i = 0; i < urls.size(); ++i)
        entries.push_back({0, 0, std::atoll(argv[3 + 2 * i]), folder, names[i], urls[i]});
    const auto t0 = std::chrono::steady_clock::now();
    enginetest::LinkClient client(port);
    const nwCDNJobListHeader header{1, static_cast<uint32_t>(entries.size()), "halvard2"};
    if (!client.Connected() || !client.Send(nwBuildJobMode({2})) ||
        !client.Send(nwBuildJobList({header, entries}))) {
        std::fprintf(stderr, "no engine on port %u\n", port);
        return 1;
    }
    enginetest::Frame frame;
    if (!client.WaitFor(6, frame, std::chrono::minutes(10))) {
        std::fprintf(stderr, "the job did not end\n");
        return 1;
    }
    nwCDNJobFinishedRecord finished;
    if (!nwReadJobFinished(frame.Data(), frame.Length(), finished) || finished.failureFlag) {
        std::fprintf(stderr, "the job failed\n");
        return 1;
    }
    std::printf("%.2f\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return 0;
}
