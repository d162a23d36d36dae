// The engine's link connection on a socket pair: frame headers are checked as
// they arrive (a frame above the limit closes the connection with its body
// still unread in the socket), and a client that never reads is closed once
// its queue is full.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/link/LinkConnection.h"
#include "engine/link/WireFormat.h"
#include "platform/EventLoop.h"

namespace {

using namespace engine;

class Recorder final : public link::ILinkConnectionHandler {
  public:
    bool OnFrame(link::LinkConnection&, const wire::FrameHeader& header, const uint8_t*) override {
        commands.push_back(header.command);
        return true;
    }
    void OnConnectionClosed(link::LinkConnection&) override { closed = true; }

    std::vector<uint16_t> commands;
    bool closed = false;
};

std::string Header(uint16_t command, uint32_t length) {
    std::string h = {0, 1, static_cast<char>(command), 0};
    h += std::string(6, '\0');
    for (int i = 0; i < 4; ++i)
        h.push_back(static_cast<char>(length >> (8 * i)));
    return h;
}

// Writes what the socket takes without blocking; the bytes taken.
size_t WriteWhatFits(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

class LinkConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends_), 0);
        ASSERT_EQ(::fcntl(ends_[0], F_SETFL, O_NONBLOCK), 0);
        // Room for a body several reads long.
        const int size = 4 << 20;
        for (int fd : ends_) {
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        // The test keeps its own handle on the engine's end, to see what is
        // left unread there once the connection has closed its own.
        kept_ = ::dup(ends_[0]);
        connection_ = std::make_unique<link::LinkConnection>(loop_, ends_[0], recorder_);
    }
    void TearDown() override {
        connection_.reset();
        ::close(kept_);
        ::close(ends_[1]);
    }
    // Runs the loop until the connection closed (bounded).
    bool RunUntilClosed() {
        for (int i = 0; i < 200 && !recorder_.closed; ++i)
            loop_.RunOnce(50);
        return recorder_.closed;
    }

    platform::EventLoop loop_;
    int ends_[2] = {-1, -1};
    int kept_ = -1;
    Recorder recorder_;
    std::unique_ptr<link::LinkConnection> connection_;
};

TEST_F(LinkConnectionTest, AnOversizedHeaderClosesBeforeItsBodyIsRead) {
    // A good frame, then a header one byte over the limit, then as much of
    // its body as the socket holds.
    const std::string good = Header(12, 2) + std::string(2, '\0');
    const std::string bad = Header(21, wire::kMaxPayload + 1);
    ASSERT_EQ(WriteWhatFits(ends_[1], good + bad), good.size() + bad.size());
    const size_t body = WriteWhatFits(ends_[1], std::string(3 << 20, 'x'));
    ASSERT_GT(body, 1u << 20);

    ASSERT_TRUE(RunUntilClosed());
    EXPECT_EQ(recorder_.commands, std::vector<uint16_t>{12});
    // At most one read's worth went past the header: the rest was never taken.
    int unread = 0;
    ASSERT_EQ(::ioctl(kept_, FIONREAD, &unread), 0);
    EXPECT_GE(static_cast<size_t>(unread) + 65536, body);
}

TEST_F(LinkConnectionTest, AFrameAtTheLimitIsTakenAndFramesSplitAnywhereArriveWhole) {
    // Three frames, written a few bytes at a time, then one of the largest size.
    std::string stream;
    for (uint16_t command : {4, 5, 6})
        stream += Header(command, 10) + std::string(10, static_cast<char>(command));
    for (size_t at = 0; at < stream.size(); at += 5) {
        ASSERT_EQ(WriteWhatFits(ends_[1], stream.substr(at, 5)),
                  std::min<size_t>(5, stream.size() - at));
        loop_.RunOnce(0);
    }
    EXPECT_EQ(recorder_.commands, (std::vector<uint16_t>{4, 5, 6}));
    std::string largest = Header(7, wire::kMaxPayload) + std::string(wire::kMaxPayload, 'y');
    size_t sent = 0;
    for (int i = 0; i < 10000 && sent < largest.size() && recorder_.commands.size() < 4; ++i) {
        sent += WriteWhatFits(ends_[1], largest.substr(sent, 1 << 20));
        loop_.RunOnce(10);
    }
    EXPECT_EQ(recorder_.commands, (std::vector<uint16_t>{4, 5, 6, 7}));
    EXPECT_FALSE(recorder_.closed);
}

TEST_F(LinkConnectionTest, AClientThatNeverReadsIsClosedOnceItsQueueIsFull) {
    const std::string frame = Header(5, 1 << 20) + std::string(1 << 20, 'p');
    // The socket's buffers take some of it; the queue takes the bound, no more.
    for (size_t sent = 0;
         sent < link::LinkConnection::kMaxQueuedBytes + (16u << 20) && !recorder_.closed;
         sent += frame.size()) {
        connection_->Send(frame);
        EXPECT_FALSE(recorder_.closed);  // never from inside Send
    }
    ASSERT_TRUE(RunUntilClosed());
    EXPECT_FALSE(connection_->IsOpen());
}

}  // namespace
