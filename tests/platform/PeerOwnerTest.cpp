// The owner of the other end of a loopback connection, with a second user
// (nobody) at that end: as a client that connects, and as a listener that has
// not accepted yet.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/PeerOwner.h"
#include "support/OtherUser.h"

namespace {

using platform::LoopbackPeerOwner;
using platform::PeerIsOwnUser;
using tvxtest::kOtherUser;
using tvxtest::OtherUserProcess;

// A loopback listener on a free port.
int Listen(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 8) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        return -1;
    port = ntohs(a.sin_port);
    return fd;
}

int Connect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// One byte on a pipe, in either direction, without allocating (the child's side).
bool Signal(int fd) {
    const char byte = 1;
    return ::write(fd, &byte, 1) == 1;
}
bool Await(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte = 0;
    return ::poll(&p, 1, 10000) == 1 && ::read(fd, &byte, 1) == 1;
}

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fd, O_CLOEXEC), 0); }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
};

TEST(PeerOwnerTest, AClientOfTheSameUserAndOneOfAnother) {
    uint16_t port = 0;
    const int listener = Listen(port);
    ASSERT_GE(listener, 0);

    const int own = Connect(port);
    ASSERT_GE(own, 0);
    const int ownServed = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(ownServed, 0);
    EXPECT_EQ(LoopbackPeerOwner(ownServed), platform::CurrentUser());
    EXPECT_TRUE(PeerIsOwnUser(ownServed));
    // And from the client's side, towards the accepted end.
    EXPECT_TRUE(PeerIsOwnUser(own));

    Pipe connected, done;
    OtherUserProcess other([&] {
        const int fd = Connect(port);
        if (fd < 0 || !Signal(connected.fd[1]))
            return 1;
        Await(done.fd[0]);  // keeps the connection open until the test is done
        return 0;
    });
    ASSERT_TRUE(other.Started());
    ASSERT_TRUE(Await(connected.fd[0]));
    const int strangerServed = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(strangerServed, 0);
    EXPECT_EQ(LoopbackPeerOwner(strangerServed), kOtherUser);
    EXPECT_FALSE(PeerIsOwnUser(strangerServed));
    Signal(done.fd[1]);
    EXPECT_EQ(other.Wait(), 0);

    // A peer that has gone (reset) has no owner left.
    linger hard{1, 0};
    ::setsockopt(own, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(own);
    EXPECT_EQ(LoopbackPeerOwner(ownServed), std::nullopt);
    EXPECT_FALSE(PeerIsOwnUser(ownServed));
    for (int fd : {ownServed, strangerServed, listener})
        ::close(fd);
}

TEST(PeerOwnerTest, AListenerThatHasNotAcceptedYetIsItsUsers) {
    // Another user's listener: the connection waits in its queue, unaccepted.
    Pipe listening, done;
    uint16_t port = 0;
    int portPipe[2];
    ASSERT_EQ(::pipe2(portPipe, O_CLOEXEC), 0);
    OtherUserProcess other([&] {
        uint16_t p = 0;
        const int fd = Listen(p);
        if (fd < 0 || ::write(portPipe[1], &p, sizeof p) != sizeof p)
            return 1;
        Await(done.fd[0]);
        return 0;
    });
    ASSERT_TRUE(other.Started());
    ASSERT_EQ(::read(portPipe[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    ::close(portPipe[0]);
    ::close(portPipe[1]);
    const int toStranger = Connect(port);
    ASSERT_GE(toStranger, 0);
    EXPECT_EQ(LoopbackPeerOwner(toStranger), kOtherUser);
    EXPECT_FALSE(PeerIsOwnUser(toStranger));
    Signal(done.fd[1]);
    EXPECT_EQ(other.Wait(), 0);
    ::close(toStranger);

    // The own user's listener, equally unaccepted.
    uint16_t ownPort = 0;
    const int listener = Listen(ownPort);
    ASSERT_GE(listener, 0);
    const int toOwn = Connect(ownPort);
    ASSERT_GE(toOwn, 0);
    EXPECT_EQ(LoopbackPeerOwner(toOwn), platform::CurrentUser());
    ::close(toOwn);
    ::close(listener);
}

TEST(PeerOwnerTest, ANonSocketHasNoPeer) {
    Pipe p;
    EXPECT_EQ(LoopbackPeerOwner(p.fd[0]), std::nullopt);
    EXPECT_FALSE(PeerIsOwnUser(-1));
}

}  // namespace
