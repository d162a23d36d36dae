// The engine program serves only its own user: a process of another user
// (nobody) that connects to the link is closed before the engine reads a byte
// of it, and hears nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "support/OtherUser.h"
#include "support/TempDir.h"

using namespace enginetest;

namespace {

constexpr uint16_t kError = 11;

std::string Bytes(const nwStreamMessage& m) {
    return std::string(reinterpret_cast<const char*>(m.Bytes().data()), m.Bytes().size());
}

std::string EngineLog() {
    return tvxtest::ReadFile(platform::AppDataFolder() + "Brenholt/vrDownloader/vrDownload.log");
}

// What the other user's client saw.
enum Outcome : int { kClosedSilently = 0, kNoConnection = 1, kAnswered = 2, kStillOpen = 3 };

TEST(LinkTrustTest, AnotherUsersClientIsClosedUnheard) {
    std::string why;
    ASSERT_TRUE(EnterPrivateNetwork(why)) << why;
    tvxtest::TempDir dest;
    ASSERT_EQ(::chmod(dest.Path().c_str(), 0777), 0);  // the job would be writable there
    EngineProcess engine;
    ASSERT_TRUE(engine.Ready());

    // The whole job, made before the fork: the child only sends bytes.
    const nwCDNJobListHeader header{9, 1, "halvard2"};
    const std::vector<nwCDNJobListEntry> planted = {
        {0, 0, 1, dest.Path(), "planted", "http://127.0.0.1:9/x"}};
    const std::string job = Bytes(nwBuildEngineText("evil")) + Bytes(nwBuildJobMode({2})) +
                            Bytes(nwBuildJobList({header, planted}));
    tvxtest::OtherUserProcess other([&job] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(57006);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return int{kNoConnection};
        // The send may already meet the engine's close.
        [[maybe_unused]] const ssize_t sent = ::send(fd, job.data(), job.size(), MSG_NOSIGNAL);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1)
            return int{kStillOpen};
        char byte = 0;
        return int{::recv(fd, &byte, 1, 0) > 0 ? kAnswered : kClosedSilently};
    });
    ASSERT_TRUE(other.Started());
    EXPECT_EQ(other.Wait(), kClosedSilently);

    const std::string log = EngineLog();
    EXPECT_NE(log.find("refused a client of another user (uid 65534)"), std::string::npos) << log;
    EXPECT_EQ(log.find("client connected"), std::string::npos) << log;
    EXPECT_EQ(log.find("engine text: evil"), std::string::npos) << log;
    EXPECT_FALSE(platform::PathExists(dest.Path() + "planted"));

    // The engine's own user is still served.
    LinkClient client;
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send(nwBuildJobMode({2})));
    const std::vector<nwCDNJobListEntry> unsafe = {{0, 0, 10, dest.Path(), "..", "http://x/"}};
    ASSERT_TRUE(client.Send(nwBuildJobList({header, unsafe})));
    Frame frame;
    EXPECT_TRUE(client.WaitFor(kError, frame));
    EXPECT_TRUE(engine.Running());
}

}  // namespace
