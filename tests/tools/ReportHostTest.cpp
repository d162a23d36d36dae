// The report host as a real program on a loopback port: what it records, what
// it answers, how it treats broken clients, and how it stops.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library/direct/ReportRecord.h"
#include "ostra/norvikqos/agent/nwAgentMessages.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kTimeoutMs = 5000;

Bytes ReportFrame(const std::vector<ReportRecord>& records) {
    const nwStreamMessage message = nwBuildAgentReportMessage(
        {static_cast<uint32_t>(records.size()), reinterpret_cast<const uint8_t*>(records.data())});
    const auto bytes = message.Bytes();
    return {bytes.begin(), bytes.end()};
}

Bytes RawHeader(uint16_t category, uint16_t command, uint32_t length) {
    Bytes out(nwStreamFrame::kHeaderSize);
    nwStreamFrameHeader header;
    header.category = category;
    header.command = command;
    header.length = length;
    nwStreamFrame::WriteHeader(header, out.data());
    return out;
}

// A blocking loopback client whose every wait is bounded.
class Client {
  public:
    explicit Client(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{kTimeoutMs / 1000, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }

    bool Send(const Bytes& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    void ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

    // Exactly n bytes, or fewer when the peer closed or the wait ran out.
    Bytes Receive(std::size_t n) {
        Bytes out(n);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
            if (r <= 0)
                break;
            got += static_cast<std::size_t>(r);
        }
        out.resize(got);
        return out;
    }
    // True when the peer closes (or resets) the connection within the timeout.
    bool ClosedByPeer() {
        uint8_t b;
        const ssize_t r = ::recv(fd_, &b, 1, 0);
        return r == 0 || (r < 0 && errno == ECONNRESET);
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

const Bytes kAcceptedReply = {0x00, 0x03, 0x83, 0x00, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0};

class ReportHostTest : public testing::Test {
  protected:
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    std::string OutPath() const { return dir_.Path() + "reports.jsonl"; }

    // Runs the host with args (plus --out and --ready-fd); returns the port it
    // announced, or 0.
    uint16_t Launch(std::vector<std::string> args = {"--port", "0"}) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            return 0;
        args.insert(args.end(), {"--out", OutPath(), "--ready-fd", "3"});
        pid_ = Spawn(args, ready[1], 3);
        ::close(ready[1]);
        std::string line;
        pollfd p{ready[0], POLLIN, 0};
        char buf[64];
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, kTimeoutMs) == 1) {
            const ssize_t n = ::read(ready[0], buf, sizeof buf);
            if (n <= 0)
                break;
            line.append(buf, static_cast<std::size_t>(n));
        }
        ::close(ready[0]);
        if (line.rfind("listening ", 0) != 0)
            return 0;
        return static_cast<uint16_t>(std::stoi(line.substr(10)));
    }

    // Starts the program with args; passFd (when >= 0) becomes descriptor
    // asFd of the child. Its stdout is discarded, its stderr kept for the log.
    static pid_t Spawn(const std::vector<std::string>& args, int passFd = -1, int asFd = -1) {
        std::vector<char*> argv;
        std::string program = TVX_REPORT_HOST;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (passFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, passFd, asFd);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // The exit code of pid, waiting at most kTimeoutMs; -1 when it did not end
    // normally in time.
    static int WaitExit(pid_t pid) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (r < 0)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    int Stop(int signal = SIGTERM) {
        ::kill(pid_, signal);
        const int code = WaitExit(pid_);
        if (code >= 0)
            pid_ = -1;
        return code;
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        const std::string text = tvxtest::ReadFile(OutPath());
        std::size_t start = 0;
        for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl - start));
        EXPECT_EQ(start, text.size()) << "last line not terminated";
        return lines;
    }

    // One good report on a fresh connection; true when it was answered.
    bool ReportOnce(uint16_t port, const std::string& job) {
        Client client(port);
        return client.Connected() &&
               client.Send(ReportFrame({MakeReportRecord(job, "http://h/" + job, 1)})) &&
               client.Receive(16) == kAcceptedReply;
    }

    tvxtest::TempDir dir_{"report-host-"};
    pid_t pid_ = -1;
};

TEST_F(ReportHostTest, RecordsEveryRecordAsAJsonLineAndAnswersEachReport) {
    const uint16_t port = Launch();
    ASSERT_NE(port, 0);
    Client client(port);
    ASSERT_TRUE(client.Connected());

    const std::string korean = "\xED\x95\x9C\xEA\xB8\x80";  // UTF-8, kept as it is
    const std::string cp949 = "\xB0\xA1\xB3\xAA";           // not UTF-8: escaped per byte
    ASSERT_TRUE(client.Send(ReportFrame({
        MakeReportRecord("halvard2", "http://cdn.test/a|http://mirror.test/a", 1048576),
        MakeReportRecord(korean, "http://cdn.test/\"q\"\\b\x01", 0),
    })));
    EXPECT_EQ(client.Receive(16), kAcceptedReply);

    // Two more reports in one write, one of them empty: two more replies.
    Bytes two = ReportFrame({MakeReportRecord(cp949, std::string(300, 'u'), -1)});
    const Bytes empty = ReportFrame({});
    two.insert(two.end(), empty.begin(), empty.end());
    ASSERT_TRUE(client.Send(two));
    Bytes twoReplies = kAcceptedReply;
    twoReplies.insert(twoReplies.end(), kAcceptedReply.begin(), kAcceptedReply.end());
    EXPECT_EQ(client.Receive(32), twoReplies);

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(
        lines[0],
        R"({"job_name":"halvard2","url":"http://cdn.test/a|http://mirror.test/a","bytes":1048576})");
    EXPECT_EQ(lines[1], "{\"job_name\":\"" + korean +
                            R"(","url":"http://cdn.test/\"q\"\\b\u0001","bytes":0})");
    EXPECT_EQ(lines[2], R"({"job_name":"\u00b0\u00a1\u00b3\u00aa","url":")" +
                            std::string(255, 'u') + R"(","bytes":-1})");

    EXPECT_EQ(Stop(SIGTERM), 0);
}

TEST_F(ReportHostTest, BrokenClientsAreDroppedAndTheNextIsServed) {
    const uint16_t port = Launch();
    ASSERT_NE(port, 0);

    struct Case {
        const char* what;
        Bytes data;
        bool closeFirst;  // the client ends its side after sending
    };
    Bytes shortReport = ReportFrame({MakeReportRecord("j", "u", 1)});
    shortReport[14] = 2;  // says two records, carries one
    const Bytes good = ReportFrame({MakeReportRecord("cut", "u", 1)});
    const Case cases[] = {
        {"garbage",
         Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', '\r', '\n',
               '\r', '\n'},
         false},
        {"unknown command", RawHeader(768, 131, 0), false},
        {"unknown category", RawHeader(1, 154, 0), false},
        {"length above the limit", RawHeader(768, 154, 0x7FFFFFFF), false},
        {"report shorter than its count", shortReport, false},
        {"truncated frame, then close", Bytes(good.begin(), good.begin() + 100), true},
        {"only half a header, then close", Bytes(good.begin(), good.begin() + 7), true},
    };
    for (const Case& c : cases) {
        {
            Client client(port);
            ASSERT_TRUE(client.Connected()) << c.what;
            ASSERT_TRUE(client.Send(c.data)) << c.what;
            if (c.closeFirst)
                client.ShutdownWrite();
            EXPECT_TRUE(client.ClosedByPeer()) << c.what;
        }
        EXPECT_TRUE(ReportOnce(port, "after")) << "not serving after: " << c.what;
    }
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines.size(), std::size(cases)) << "only the good reports are recorded";

    EXPECT_EQ(Stop(SIGTERM), 0);
}

TEST_F(ReportHostTest, ServesManyConnectionsAtOnce) {
    const uint16_t port = Launch();
    ASSERT_NE(port, 0);
    constexpr int kClients = 24;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<Bytes> frames;
    // Every client sends the first part of its report, then all finish in
    // reverse order: none may wait for another.
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<Client>(port));
        ASSERT_TRUE(clients.back()->Connected());
        frames.push_back(ReportFrame({MakeReportRecord("job" + std::to_string(i), "u", i)}));
        ASSERT_TRUE(clients.back()->Send(Bytes(frames.back().begin(), frames.back().begin() + 20)));
    }
    for (int i = kClients - 1; i >= 0; --i) {
        const Bytes& f = frames[static_cast<std::size_t>(i)];
        ASSERT_TRUE(clients[static_cast<std::size_t>(i)]->Send(Bytes(f.begin() + 20, f.end())));
        EXPECT_EQ(clients[static_cast<std::size_t>(i)]->Receive(16), kAcceptedReply) << i;
    }
    EXPECT_EQ(Lines().size(), static_cast<std::size_t>(kClients));
    // Open connections do not hold up the stop.
    EXPECT_EQ(Stop(SIGINT), 0);
}

TEST_F(ReportHostTest, LargeReportSpanningManyReadsIsRecordedWhole) {
    const uint16_t port = Launch();
    ASSERT_NE(port, 0);
    std::vector<ReportRecord> records;
    for (int i = 0; i < 3000; ++i)  // about 900 KB, far more than one read
        records.push_back(MakeReportRecord("j" + std::to_string(i), "u", i));
    Client client(port);
    ASSERT_TRUE(client.Send(ReportFrame(records)));
    EXPECT_EQ(client.Receive(16), kAcceptedReply);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), records.size());
    EXPECT_EQ(lines.back(), R"({"job_name":"j2999","url":"u","bytes":2999})");
    EXPECT_EQ(Stop(SIGTERM), 0);
}

TEST_F(ReportHostTest, RefusesToStartOnBadOptionsOrAPortInUse) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--port", "65536"}, {"--port", "x"}, {"--bogus", "1"}, {"--port"}, {"--out", ""}}) {
        const pid_t pid = Spawn(args);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitExit(pid), 2) << args[0];
    }

    const uint16_t port = Launch();
    ASSERT_NE(port, 0);
    const pid_t second = Spawn({"--port", std::to_string(port), "--out", OutPath()});
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExit(second), 1) << "a second host on the same port";
    const pid_t badAddress = Spawn({"--port", "0", "--address", "localhost", "--out", OutPath()});
    EXPECT_EQ(WaitExit(badAddress), 1);
    const pid_t badOut = Spawn({"--port", "0", "--out", dir_.Path() + "missing/dir/out.jsonl"});
    EXPECT_EQ(WaitExit(badOut), 1);
    EXPECT_TRUE(ReportOnce(port, "still"));
    EXPECT_EQ(Stop(SIGTERM), 0);
}

}  // namespace
