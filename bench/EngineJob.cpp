// A whole job through the local engine against a real nginx on loopback,
// beside the direct path and curl in the same run:
//   bench_EngineJob [gib-total=1] [files=8]
// Runs in a network namespace of its own (root), since the engine's port is
// fixed. Prints the wall times and the ratios engine/direct and engine/curl;
// the engine must not be slower than the direct path.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "TarvoLib.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "platform/MessageTarget.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "util/Sha256.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool EnterNamespace() {
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare (run as root)");
        return false;
    }
    // Loopback, and an interface with an address so that the network probe
    // reads "up" (nothing is sent to it).
    return std::system(
               "ip link set lo up && ip link add tvxb0 type veth peer name tvxb1 && "
               "ip addr add 198.18.0.1/32 dev tvxb0 && ip link set tvxb0 up && "
               "ip link set tvxb1 up") == 0;
}

pid_t StartEngine() {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int fd = dup(ready[1]);
        setenv("TVX_READY_FD", std::to_string(fd).c_str(), 1);
        execl(TVX_ENGINE_PROGRAM, "vrDownload.exe", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char byte = 0;
    pollfd p{ready[0], POLLIN, 0};
    const bool ok = poll(&p, 1, 10000) == 1 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return ok ? pid : -1;
}

bool SendAll(int fd, const nwStreamMessage& m) {
    const auto bytes = m.Bytes();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Hands the job to the engine and waits for its finish; wall seconds, or -1.
double RunEngineJob(const std::vector<std::string>& urls, const std::vector<std::string>& names,
                    const std::string& dest, int64_t each) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(57006);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    std::vector<nwCDNJobListEntry> entries;
    for (size_t i = 0; i < urls.size(); ++i)
        entries.push_back({0, 0, each, dest, names[i], urls[i]});
    const auto t0 = Clock::now();
    SendAll(fd, nwBuildJobMode({2}));
    SendAll(fd, nwBuildJobList({{1, static_cast<uint32_t>(urls.size()), "bench"}, entries}));
    std::string buffer;
    double wall = -1;
    for (;;) {
        char chunk[65536];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        buffer.append(chunk, static_cast<size_t>(n));
        bool finished = false;
        while (buffer.size() >= 14) {
            const auto h =
                nwStreamFrame::ReadHeader(reinterpret_cast<const uint8_t*>(buffer.data()));
            if (buffer.size() - 14 < h.length)
                break;
            if (h.command == nwCDNLocal::kCmdJobFinished) {
                nwCDNJobFinishedRecord r;
                nwReadJobFinished(reinterpret_cast<const uint8_t*>(buffer.data()) + 14, h.length,
                                  r);
                if (r.failureFlag)
                    std::fprintf(stderr, "engine gave the job up (result %u)\n", r.result);
                finished = true;
            }
            buffer.erase(0, 14 + h.length);
        }
        if (finished) {
            wall = Since(t0);
            break;
        }
    }
    close(fd);
    return wall;
}

double RunDirectJob(const std::vector<std::string>& urls, const std::string& dest) {
    platform::QueueMessageTarget window;
    if (TarvoLib_Initialize(&window, nullptr, 0) != tarvo::result::kSuccess)
        return -1;
    JobHandle job = 0;
    TarvoLib_CreateJob(&job, "b", "bench");
    for (const std::string& url : urls)
        TarvoLib_AddFile(job, url.c_str(), dest.c_str(), nullptr, 0xFFFFFFFFu, -1, 0);
    const auto t0 = Clock::now();
    TarvoLib_StartJob2(job, 1);
    platform::PostedMessage message;
    while (window.Take(message, 600000))
        if (message.wParam == static_cast<uintptr_t>(tarvo::event::kJobCompleted))
            break;
    const double wall = Since(t0);
    TarvoLib_RemoveJob(job);
    TarvoLib_Finalize();
    return wall;
}

double RunCurl(const std::vector<std::string>& urls, const std::string& dest) {
    std::vector<std::string> args = {"curl", "-s", "--no-progress-meter", "--parallel"};
    for (size_t i = 0; i < urls.size(); ++i)
        args.insert(args.end(), {"-o", dest + "curl-" + std::to_string(i), urls[i]});
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Since(t0) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const double gib = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int files = argc > 2 ? std::atoi(argv[2]) : 8;
    if (!EnterNamespace())
        return 1;
    tvxtest::TempDir dir("bench-engine-");
    setenv("XDG_DATA_HOME", (dir.Path() + "data").c_str(), 1);
    tvxtest::NginxServer nginx;
    if (!nginx.Started()) {
        std::fprintf(stderr, "nginx: %s\n", nginx.Error().c_str());
        return 1;
    }
    const auto each = static_cast<int64_t>(gib * 1073741824.0 / files);
    std::vector<std::string> urls, names;
    for (int i = 0; i < files; ++i) {
        names.push_back("f" + std::to_string(i) + ".bin");
        nginx.WritePatternFile(names.back(), static_cast<uint64_t>(each),
                               static_cast<uint32_t>(i + 1));
        urls.push_back(nginx.HttpUrl("/" + names.back()));
    }
    const pid_t engine = StartEngine();
    if (engine < 0) {
        std::fprintf(stderr, "the engine did not start\n");
        return 1;
    }
    const double engineWall = RunEngineJob(urls, names, dir.Path() + "engine/", each);
    // The library verifies each signed file on a thread of its own as the
    // engine reports it complete: at most one more read of the game, and
    // overlapped with the rest of the download. Its cost, measured alone:
    const auto v0 = Clock::now();
    bool allMatch = true;
    for (const std::string& name : names) {
        const std::optional<FileHash> got = HashFile(dir.Path() + "engine/" + name);
        const std::optional<FileHash> served = HashFile(nginx.PathOf(name));
        allMatch = allMatch && got && served && got->digest == served->digest;
    }
    // Both copies were read; the library reads only the downloaded one.
    const double verifyWall = Since(v0) / 2;
    kill(engine, SIGTERM);
    waitpid(engine, nullptr, 0);
    const double directWall = RunDirectJob(urls, dir.Path() + "direct/");
    tvxtest::MakeDirs(dir.Path() + "curl/");
    const double curlWall = RunCurl(urls, dir.Path() + "curl/");

    const double mib = static_cast<double>(each) * files / 1048576.0;
    std::printf("job of %d files, %.0f MiB\n", files, mib);
    std::printf("engine %7.2f s  %7.1f MiB/s\n", engineWall, mib / engineWall);
    std::printf("direct %7.2f s  %7.1f MiB/s\n", directWall, mib / directWall);
    std::printf("curl   %7.2f s  %7.1f MiB/s (--parallel)\n", curlWall, mib / curlWall);
    std::printf("wall ratio engine/direct %.3f (goal <= 1), engine/curl %.3f\n",
                engineWall / directWall, engineWall / curlWall);
    std::printf("verification: %.2f s to read and hash the game once (%.1f MiB/s), %.1f %% of the "
                "engine job, overlapped with it file by file; files %s\n",
                verifyWall, mib / verifyWall, verifyWall / engineWall * 100,
                allMatch ? "match" : "DO NOT MATCH");
    return engineWall > 0 && directWall > 0 && engineWall <= directWall ? 0 : 2;
}
