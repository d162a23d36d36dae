// The event source's readiness contract on real loopback sockets, with a sink
// that records every event.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/SocketEventSource.h"

namespace {

namespace sock = platform::sock;
using platform::SocketEvent;
constexpr uint32_t kLoopback = 0x0100007F;

struct RecordingSink final : platform::ISocketEventSink {
    void LockEngine() override {}
    void UnlockEngine() override {}
    void OnSocketEvent(int slot, SocketEvent event, int) override {
        events.push_back({slot, event});
    }
    void OnDeferred(int slot, uint64_t token) override { deferred.push_back({slot, token}); }
    int Count(SocketEvent event) const {
        int n = 0;
        for (const auto& e : events)
            n += e.second == event ? 1 : 0;
        return n;
    }
    std::vector<std::pair<int, SocketEvent>> events;
    std::vector<std::pair<int, uint64_t>> deferred;
};

class SocketEventSourceTest : public ::testing::Test {
  protected:
    SocketEventSourceTest() {
        sock::Create(sock::kStream, listener);
        sock::Bind(listener, kLoopback, 0);
        sock::Listen(listener, 5);
        uint32_t ip = 0;
        sock::LocalAddress(listener, ip, port);
    }
    ~SocketEventSourceTest() override {
        source.reset();
        sock::Close(client);
        sock::Close(peer);
        sock::Close(listener);
    }
    void Spin(int turns = 5) {
        for (int i = 0; i < turns; ++i)
            loop.RunOnce(20);
    }
    // A registered, non-blocking client connected to an accepted peer.
    void ConnectPair() {
        sock::Create(sock::kStream, client);
        sock::SetNonBlocking(client, true);
        ASSERT_TRUE(source->Register(3, client));
        int error = 0;
        sock::Connect(client, kLoopback, port, &error);
        source->NoteConnect(3, error);
        pollfd p{listener, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        uint32_t ip = 0;
        uint16_t peerPort = 0;
        sock::Accept(listener, peer, ip, peerPort);
        Spin();
    }
    std::string ReceiveSome(uint32_t size) {
        std::string out(size, '\0');
        int32_t n = 0;
        sock::Receive(client, out.data(), size, n);
        source->NoteReceive(3);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }

    platform::EventLoop loop;
    RecordingSink sink;
    std::unique_ptr<platform::SocketEventSource> source =
        std::make_unique<platform::SocketEventSource>(loop, sink);
    sock::Handle listener = sock::kInvalidHandle;
    sock::Handle client = sock::kInvalidHandle;
    sock::Handle peer = sock::kInvalidHandle;
    uint16_t port = 0;
};

TEST(SocketOpsTest, SystemErrorsMapOntoResultCodes) {
    struct Case {
        int error;
        platform::net::Result result;
    };
    for (const Case c :
         {Case{EWOULDBLOCK, platform::net::kWouldBlock},
          Case{EINPROGRESS, platform::net::kWouldBlock}, Case{EALREADY, platform::net::kAlready},
          Case{ENOTSOCK, platform::net::kInvalidSocket}, Case{EBADF, platform::net::kInvalidSocket},
          Case{ENOBUFS, platform::net::kNoBuffers},
          Case{ECONNREFUSED, platform::net::kConnectionRefused},
          Case{ECONNRESET, platform::net::kFail}, Case{ENETUNREACH, platform::net::kFail}}) {
        EXPECT_EQ(sock::MapError(c.error), c.result) << c.error;
    }
}

TEST_F(SocketEventSourceTest, ConnectReportsOnceThenWritableOnlyAfterARefusedSend) {
    ConnectPair();
    EXPECT_EQ(sink.Count(SocketEvent::Connected), 1);
    EXPECT_EQ(sink.Count(SocketEvent::Writable), 1);
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::Writable), 1);  // still writable, not reported again

    // Fill the socket until it refuses, then let the peer drain it.
    const std::string block(65536, 'w');
    int32_t sent = 0;
    int error = 0;
    while (platform::net::Succeeded(sock::Send(client, block.data(), block.size(), sent, &error))) {
    }
    EXPECT_EQ(error, EAGAIN);
    source->NoteSendRefused(3);
    Spin(2);
    EXPECT_EQ(sink.Count(SocketEvent::Writable), 1);
    char buffer[65536];
    for (int i = 0; i < 200 && sink.Count(SocketEvent::Writable) == 1; ++i) {
        while (recv(peer, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
        loop.RunOnce(10);
    }
    EXPECT_EQ(sink.Count(SocketEvent::Writable), 2);
}

TEST_F(SocketEventSourceTest, ReadableAgainOnlyAfterAReceiveLeavesDataAndCloseAfterTheLastByte) {
    ConnectPair();
    sink.events.clear();
    send(peer, "0123456789", 10, 0);
    shutdown(peer, SHUT_WR);  // the close arrives together with unread data
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::Readable), 1);
    EXPECT_EQ(sink.Count(SocketEvent::ClosedByPeer), 0);
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::Readable), 1);  // nobody read: no new report

    EXPECT_EQ(ReceiveSome(4), "0123");
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::Readable), 2);
    EXPECT_EQ(sink.Count(SocketEvent::ClosedByPeer), 0);
    EXPECT_EQ(ReceiveSome(64), "456789");
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::ClosedByPeer), 1);
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::ClosedByPeer), 1);

    // Re-arm after the close reports nothing further.
    source->Rearm(3);
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::ClosedByPeer), 1);
}

TEST_F(SocketEventSourceTest, RearmReportsWhatHolds) {
    ConnectPair();
    sink.events.clear();
    source->Rearm(3);
    Spin();
    EXPECT_EQ(sink.Count(SocketEvent::Writable), 1);
    EXPECT_EQ(sink.Count(SocketEvent::Readable), 0);
}

TEST_F(SocketEventSourceTest, RefusedConnectIsItsOwnEventAndUnregisteredSlotsAreSilent) {
    sock::Handle closedPortProbe = sock::kInvalidHandle;
    sock::Create(sock::kStream, closedPortProbe);
    sock::Bind(closedPortProbe, kLoopback, 0);
    uint32_t ip = 0;
    uint16_t closedPort = 0;
    sock::LocalAddress(closedPortProbe, ip, closedPort);
    sock::Close(closedPortProbe);

    sock::Create(sock::kStream, client);
    sock::SetNonBlocking(client, true);
    ASSERT_TRUE(source->Register(7, client));
    EXPECT_FALSE(source->Register(7, client));  // slot in use
    EXPECT_FALSE(source->Register(64, client));
    int error = 0;
    sock::Connect(client, kLoopback, closedPort, &error);
    source->NoteConnect(7, error);
    for (int i = 0; i < 100 && sink.events.empty(); ++i)
        loop.RunOnce(10);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0], (std::pair<int, SocketEvent>{7, SocketEvent::Refused}));
    Spin();
    EXPECT_EQ(sink.events.size(), 1u);
    EXPECT_TRUE(source->Unregister(7));
    EXPECT_FALSE(source->Unregister(7));
}

TEST_F(SocketEventSourceTest, DeferredEventsArriveOnePerTurnAndNotAfterTheSourceIsGone) {
    const uint64_t tokens[3] = {11, 12, 13};
    for (uint64_t token : tokens)
        source->PostDeferred(2, token);
    loop.RunOnce(0);
    EXPECT_EQ(sink.deferred.size(), 1u);
    loop.RunOnce(0);
    loop.RunOnce(0);
    ASSERT_EQ(sink.deferred.size(), 3u);
    EXPECT_EQ(sink.deferred[2], (std::pair<int, uint64_t>{2, tokens[2]}));

    source->PostDeferred(2, tokens[0]);
    source.reset();
    loop.RunOnce(0);
    EXPECT_EQ(sink.deferred.size(), 3u);
}

}  // namespace
