// The demo content server script: it generates a tiny game, serves it and the
// file list naming it on loopback, and stops cleanly on SIGTERM.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/LoopbackClient.h"
#include "support/TempDir.h"
#include "tools/DemoHostProcess.h"

namespace {

using namespace std::chrono_literals;
using tvxtest::ChildProcess;

const std::string kScript = std::string(TVX_SOURCE_ROOT) + "/tools/demo_server/demo-server.sh";

std::string Get(uint16_t port, const std::string& path) {
    const auto reply = tvxtest::LoopbackExchange(
        port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 5s);
    return reply.bytes;
}

TEST(DemoServer, ServesAGeneratedGameAndStopsOnSigterm) {
    tvxtest::TempDir dir("tvx-demo-server-");
    const uint16_t port = tvxtest::FreeLoopbackPort();
    ASSERT_NE(port, 0);
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/fullinst/";
    ASSERT_TRUE(tvxtest::WriteFile(dir.Path() + "skin.zip", "PK\x05\x06 stand-in package"));
    ChildProcess server({"/bin/bash", kScript, "--dir", dir.Path() + "game", "--port",
                         std::to_string(port), "--sizes", "3,70K,1M", "--skin",
                         dir.Path() + "skin.zip"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitForOutput("file list: " + base + "filelist.txt\n", 15s))
        << server.Out() << server.Err();
    EXPECT_NE(server.Out().find("skin: " + base + "img.zip\n"), std::string::npos);

    const std::string list = Get(port, "/fullinst/filelist.txt");
    EXPECT_EQ(list.rfind("HTTP/1.1 200", 0), 0u) << list;
    EXPECT_EQ(tvxtest::ReplyBody(list), base + "Halvard2.part01.bin\n" + base +
                                            "Halvard2.part02.bin\n" + base +
                                            "Halvard2.part03.bin\n" + base + "Halvard2Setup.exe\n");
    const std::string served = tvxtest::ReplyBody(Get(port, "/fullinst/Halvard2.part02.bin"));
    EXPECT_EQ(served.size(), 70u * 1024);
    EXPECT_TRUE(served == tvxtest::ReadFile(dir.Path() + "game/www/fullinst/Halvard2.part02.bin"));
    EXPECT_EQ(tvxtest::ReplyBody(Get(port, "/fullinst/img.zip")),
              tvxtest::ReadFile(dir.Path() + "skin.zip"));
    // The installer is a script that says where it lies.
    const std::string installer = tvxtest::ReplyBody(Get(port, "/fullinst/Halvard2Setup.exe"));
    EXPECT_EQ(installer.rfind("#!/bin/sh\n", 0), 0u) << installer;

    server.Signal(SIGTERM);
    ASSERT_TRUE(server.Wait(10s));
    EXPECT_EQ(server.ExitCode(), 0) << server.Err();
    // nginx went with it.
    EXPECT_FALSE(tvxtest::LoopbackExchange(port, "", 1s).connected);
}

TEST(DemoServer, GeneratesTheSameBytesForTheSameSizes) {
    tvxtest::TempDir first("tvx-demo-a-");
    tvxtest::TempDir second("tvx-demo-b-");
    for (const auto* dir : {&first, &second}) {
        ChildProcess run(
            {"/bin/bash", kScript, "--dir", dir->Path(), "--sizes", "64K,64K", "--generate-only"});
        ASSERT_TRUE(run.Wait(15s));
        ASSERT_EQ(run.ExitCode(), 0) << run.Err();
    }
    const std::string one = tvxtest::ReadFile(first.Path() + "www/fullinst/Halvard2.part01.bin");
    const std::string two = tvxtest::ReadFile(first.Path() + "www/fullinst/Halvard2.part02.bin");
    EXPECT_EQ(one.size(), 64u * 1024);
    EXPECT_TRUE(one == tvxtest::ReadFile(second.Path() + "www/fullinst/Halvard2.part01.bin"));
    // Different files differ, and are not runs of one byte.
    EXPECT_FALSE(one == two);
    EXPECT_NE(one.find_first_not_of(one[0]), std::string::npos);

    // A smaller game replaces the larger one: its extra part is gone.
    ChildProcess smaller(
        {"/bin/bash", kScript, "--dir", first.Path(), "--sizes", "64K", "--generate-only"});
    ASSERT_TRUE(smaller.Wait(15s));
    EXPECT_EQ(smaller.ExitCode(), 0) << smaller.Err();
    EXPECT_TRUE(tvxtest::ReadFile(first.Path() + "www/fullinst/Halvard2.part02.bin").empty());
    EXPECT_TRUE(one == tvxtest::ReadFile(first.Path() + "www/fullinst/Halvard2.part01.bin"));
}

TEST(DemoServer, RefusesBadOptions) {
    tvxtest::TempDir dir("tvx-demo-bad-");
    const std::vector<std::vector<std::string>> cases = {
        {"--sizes", "0"},    {"--sizes", "5X"}, {"--sizes", ""},
        {"--port", "70000"}, {"--port", "x"},   {"--bogus"},
    };
    for (const auto& options : cases) {
        SCOPED_TRACE(options.back());
        std::vector<std::string> args = {"/bin/bash", kScript, "--dir", dir.Path()};
        args.insert(args.end(), options.begin(), options.end());
        ChildProcess run(args);
        ASSERT_TRUE(run.Wait(10s));
        EXPECT_EQ(run.ExitCode(), 2);
        EXPECT_NE(run.Err().find("demo-server: "), std::string::npos) << run.Err();
    }
}

}  // namespace
