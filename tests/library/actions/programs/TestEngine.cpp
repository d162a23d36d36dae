// A stand-in for the local engine in tests: it carries a version in its
// ".fileversion" section and tells its starter through TVX_READY_FD that it
// is ready, in the way TVX_TEST_ENGINE_MODE asks:
//   signal (default)  writes one byte, then lingers
//   close             closes the descriptor without writing, then lingers
//   exit              exits at once with status 3, saying why on standard error
//   crash             aborts at once
//   daemon            leaves a child that holds the descriptor and lingers,
//                     and exits at once, so that only the process's end tells
// TVX_TEST_ENGINE_MARK names a file that gets "<pid> <ready fd>" first;
// TVX_TEST_ENGINE_LINGER_MS (default 1000) bounds how long it stays.
// TVX_TEST_ENGINE_STDIO names a file that gets what its standard input,
// output and error are, one line each.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

__attribute__((section(".fileversion"), used)) static const char kVersion[] =
    TVX_TEST_ENGINE_VERSION;

int main() {
    const char* fdText = std::getenv("TVX_READY_FD");
    const int fd = fdText ? std::atoi(fdText) : -1;
    const char* mode = std::getenv("TVX_TEST_ENGINE_MODE");
    const char* lingerText = std::getenv("TVX_TEST_ENGINE_LINGER_MS");
    const int lingerMs = lingerText ? std::atoi(lingerText) : 1000;
    if (const char* mark = std::getenv("TVX_TEST_ENGINE_MARK")) {
        if (FILE* f = std::fopen(mark, "w")) {
            std::fprintf(f, "%d %d\n", static_cast<int>(getpid()), fd);
            std::fclose(f);
        }
    }
    if (const char* stdio = std::getenv("TVX_TEST_ENGINE_STDIO")) {
        if (FILE* f = std::fopen(stdio, "w")) {
            for (const char* link : {"/proc/self/fd/0", "/proc/self/fd/1", "/proc/self/fd/2"}) {
                char target[256] = {};
                const ssize_t n = readlink(link, target, sizeof target - 1);
                std::fprintf(f, "%s\n", n > 0 ? target : "?");
            }
            std::fclose(f);
        }
    }
    if (mode && std::strcmp(mode, "exit") == 0) {
        std::fputs("starting\nthe test engine says it cannot go on\n", stderr);
        return 3;
    }
    if (mode && std::strcmp(mode, "crash") == 0)
        std::abort();
    if (mode && std::strcmp(mode, "daemon") == 0) {
        if (fork() == 0)
            usleep(static_cast<useconds_t>(lingerMs) * 1000);
        return 0;
    }
    if (mode && std::strcmp(mode, "close") == 0) {
        close(fd);
    } else if (fd >= 0) {
        const char byte = 'R';
        if (write(fd, &byte, 1) != 1)
            return 4;
    }
    usleep(static_cast<useconds_t>(lingerMs) * 1000);
    return 0;
}
