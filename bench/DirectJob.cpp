// Whole jobs on the direct path against a real nginx on loopback:
//   bench_DirectJob [gib-total=1] [files=8]
// 1. a job of `files` files (1 GiB in all by default) in mode 1, beside
//    `curl --limit-rate 100M` and `wget --limit-rate=100m` of the same files in
//    the same run: wall-time and CPU-time ratios of ours to curl's;
// 2. the same job with every file's signed digest set, so that each file is
//    hashed as it is written: the cost of verification (goal: at most 2 %
//    slower at the 100 MiB/s cap);
// 3. one file in mode 0: the achieved rate as a ratio of 393216 B/s.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TarvoLib.h"
#include "util/Sha256.h"
#include "platform/MessageTarget.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

struct Cost {
    double wall = 0;
    double cpu = 0;
};

double Seconds(const timeval& tv) {
    return tv.tv_sec + tv.tv_usec / 1e6;
}

double CpuOf(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Runs one job through the entry functions and waits for its end; with
// digests (hex, size per URL), every file is verified.
Cost RunJob(const std::vector<std::string>& urls, const std::string& dest, uint8_t mode,
            const std::vector<FileHash>& digests = {}) {
    platform::QueueMessageTarget window;
    if (TarvoLib_Initialize(&window, nullptr, 0) != tarvo::result::kSuccess)
        return {};
    JobHandle job = 0;
    TarvoLib_CreateJob(&job, "b", "bench");
    for (const std::string& url : urls)
        TarvoLib_AddFile(job, url.c_str(), dest.c_str(), nullptr, 0xFFFFFFFFu, -1, 0);
    for (size_t i = 0; i < digests.size() && i < urls.size(); ++i)
        TarvoLib_SetFileDigest(job, urls[i].c_str(), Sha256Hex(digests[i].digest).c_str(),
                               static_cast<uint32_t>(digests[i].size),
                               static_cast<int32_t>(digests[i].size >> 32));
    const double cpu0 = CpuOf(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    TarvoLib_StartJob2(job, mode);
    platform::PostedMessage message;
    while (window.Take(message, 600000)) {
        if (message.wParam == static_cast<uintptr_t>(tarvo::event::kJobCompleted))
            break;
        if (message.wParam == static_cast<uintptr_t>(tarvo::event::kJobMessage)) {
            JobMessage m{0, nullptr};
            TarvoLib_GetJobMessage(job, &m);
            std::fprintf(stderr, "job message %d\n", m.code);
        }
    }
    Cost cost;
    cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cost.cpu = CpuOf(RUSAGE_SELF) - cpu0;
    TarvoLib_RemoveJob(job);
    TarvoLib_Finalize();
    return cost;
}

// Runs a command and returns its wall and CPU time (as a waited-for child).
Cost RunCommand(const std::vector<std::string>& args) {
    const double cpu0 = CpuOf(RUSAGE_CHILDREN);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Cost cost;
    cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cost.cpu = CpuOf(RUSAGE_CHILDREN) - cpu0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "%s failed\n", args[0].c_str());
    return cost;
}

}  // namespace

int main(int argc, char** argv) {
    const double gib = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int files = argc > 2 ? std::atoi(argv[2]) : 8;
    tvxtest::TempDir dir("bench-direct-");
    setenv("XDG_DATA_HOME", (dir.Path() + "data").c_str(), 1);
    tvxtest::NginxServer nginx;
    if (!nginx.Started()) {
        std::fprintf(stderr, "nginx: %s\n", nginx.Error().c_str());
        return 1;
    }
    const auto each = static_cast<uint64_t>(gib * 1073741824.0 / files);
    std::vector<std::string> urls;
    for (int i = 0; i < files; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        nginx.WritePatternFile(name, each, static_cast<uint32_t>(i + 1));
        urls.push_back(nginx.HttpUrl("/" + name));
    }
    const double bytes = static_cast<double>(each) * files;

    const Cost ours = RunJob(urls, dir.Path() + "ours/", 1);
    std::vector<std::string> curl = {"curl", "-s", "--limit-rate", "100M"};
    std::vector<std::string> wget = {"wget", "-q", "--limit-rate=100m", "-P", dir.Path() + "wget"};
    for (int i = 0; i < files; ++i) {
        curl.insert(curl.end(), {"-o", dir.Path() + "curl-" + std::to_string(i), urls[i]});
        wget.push_back(urls[i]);
    }
    const Cost curlCost = RunCommand(curl);
    const Cost wgetCost = RunCommand(wget);

    auto line = [&](const char* who, const Cost& c) {
        std::printf("%-6s %7.2f s  %7.1f MiB/s  %6.3f CPU s  %6.3f CPU s/GiB\n", who, c.wall,
                    bytes / 1048576.0 / c.wall, c.cpu, c.cpu / (bytes / 1073741824.0));
    };
    std::printf("job of %d files, %.0f MiB, mode 1 (cap 100 MiB/s)\n", files, bytes / 1048576.0);
    line("ours", ours);
    line("curl", curlCost);
    line("wget", wgetCost);
    std::printf("wall ratio ours/curl %.3f (goal <= 1.05), CPU ratio ours/curl %.3f (goal <= 2)\n",
                ours.wall / curlCost.wall, ours.cpu / curlCost.cpu);

    // The same job verified against signed digests (hashed here, outside the timing).
    std::vector<FileHash> digests;
    for (int i = 0; i < files; ++i)
        digests.push_back(*HashFile(nginx.PathOf("f" + std::to_string(i) + ".bin")));
    const Cost verified = RunJob(urls, dir.Path() + "verified/", 1, digests);
    line("signed", verified);
    std::printf("verification: wall %+.2f %% (goal <= 2 %%), CPU %+.3f s\n",
                (verified.wall / ours.wall - 1) * 100, verified.cpu - ours.cpu);

    // Mode 0: about ten seconds at the slow cap.
    const uint64_t slowSize = 393216ull * 10;
    nginx.WritePatternFile("slow.bin", slowSize, 99);
    const Cost slow = RunJob({nginx.HttpUrl("/slow.bin")}, dir.Path() + "slow/", 0);
    const double rate = static_cast<double>(slowSize) / slow.wall;
    std::printf("mode 0: %.0f B/s, ratio to 393216 B/s %.4f (goal within 2 %%)\n", rate,
                rate / 393216.0);
    return 0;
}
