#include "lumo/eventloop.h"
#include "lumo/net.h"

#include "net_test_util.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

using lumo::EventLoopImpl;
using nettest::onFreshLoop;
using nettest::spin;

struct Datagram {
    std::uint32_t ip;
    std::uint16_t port;
    std::string payload;
};

int boundClient() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any = nettest::loopback(0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    return fd;
}

void sendFrom(int fd, std::uint16_t port, const std::string& payload) {
    const sockaddr_in to = nettest::loopback(port);
    ASSERT_EQ(::sendto(fd, payload.data(), payload.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to),
              ssize_t(payload.size()));
}

TEST(Udp, SetupReportsPortAndFailures) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto socket = loop.udpSetup("", 0, nullptr);
        ASSERT_TRUE(socket);
        EXPECT_NE(socket->port(), 0);
        EXPECT_EQ(socket->address(), "");
        int broadcast = 0;
        socklen_t len = sizeof broadcast;
        ASSERT_EQ(getsockopt(socket->fd(), SOL_SOCKET, SO_BROADCAST, &broadcast, &len), 0);
        EXPECT_EQ(broadcast, 1);

        nettest::LogCapture log;
        std::string error;
        EXPECT_FALSE(lumo::udpSetup("300.1.1.1", 0, &error));
        EXPECT_EQ(error, "invalid address \"300.1.1.1\"");
        EXPECT_TRUE(log.contains(
            "lumo::EventLoopImpl::udpSetup: invalid address \"300.1.1.1\": invalid address"));
        // A port held by a socket without SO_REUSEADDR cannot be shared.
        const int holder = boundClient();
        EXPECT_FALSE(loop.udpSetup("127.0.0.1", nettest::localPortOf(holder), &error));
        ::close(holder);
        EXPECT_EQ(error, "Address already in use");
        EXPECT_TRUE(log.contains("lumo::EventLoopImpl::udpSetup: bind(): Address already in use"));
    });
}

TEST(Udp, ReceiveGivesSenderInHostOrderAndDropsOversize) {
    onFreshLoop([&](EventLoopImpl& loop) {
        nettest::LogCapture log;
        auto socket = loop.udpSetup("127.0.0.1", 0, nullptr);
        ASSERT_TRUE(socket);
        std::vector<Datagram> got;
        socket->datagram.connect(nullptr, [&](const std::uint32_t& ip, const std::uint16_t& port,
                                              const std::string& payload) {
            got.push_back({ip, port, payload});
        });
        const int client = boundClient();
        sendFrom(client, socket->port(), "first");
        sendFrom(client, socket->port(), std::string(5000, 'x')); // over the 4096 limit
        sendFrom(client, socket->port(), std::string(4096, 'y')); // exactly the limit
        sendFrom(client, socket->port(), "last");
        ASSERT_TRUE(spin(loop, [&] { return got.size() >= 3; }));
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].ip, 0x7F000001u);
        EXPECT_EQ(got[0].port, nettest::localPortOf(client));
        EXPECT_EQ(got[0].payload, "first");
        EXPECT_EQ(got[1].payload, std::string(4096, 'y'));
        EXPECT_EQ(got[2].payload, "last");
        EXPECT_TRUE(log.contains("dropped a datagram of 5000 bytes"));
        ::close(client);
    });
}

TEST(Udp, SendToReachesThePeerAndCloseIsOnce) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto socket = loop.udpSetup("127.0.0.1", 0, nullptr);
        ASSERT_TRUE(socket);
        const int client = boundClient();
        const std::uint16_t clientPort = nettest::localPortOf(client);
        EXPECT_EQ(socket->sendTo(0x7F000001u, clientPort, "ping", 4), 4);
        const sockaddr_in to = nettest::loopback(clientPort);
        EXPECT_EQ(socket->sendTo(to, "pong", 4), 4);
        char buf[16];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ASSERT_EQ(::recvfrom(client, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len),
                  4);
        EXPECT_EQ(std::string(buf, 4), "ping");
        EXPECT_EQ(ntohs(from.sin_port), socket->port());
        ASSERT_EQ(::recv(client, buf, sizeof buf, 0), 4);
        EXPECT_EQ(std::string(buf, 4), "pong");

        const std::size_t registered = loop.pollableCount();
        socket->close();
        socket->close();
        loop.processOnce();
        EXPECT_EQ(loop.pollableCount(), registered - 1);
        EXPECT_EQ(socket->fd(), -1);
        EXPECT_EQ(socket->sendTo(0x7F000001u, clientPort, "late", 4), -1);
        ::close(client);
    });
}

// Loop-bound objects refuse to be used from another thread instead of racing.
// One datagram to many destinations, more than one batch of them: each gets it whole, in
// order, and destinations the system refuses (port 0 here) cost the others nothing, in
// the middle of a batch, at its end and at the very start.
TEST(Udp, SendToEachGoesOnPastRefusedDestinations) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto socket = loop.udpSetup("127.0.0.1", 0, nullptr);
        ASSERT_TRUE(socket);
        constexpr int kReceivers = 3;
        int rx[kReceivers];
        std::vector<sockaddr_in> to;
        for (int& fd : rx)
            fd = boundClient();
        const std::set<std::size_t> refused = {0, 70, 127, 149};
        for (std::size_t i = 0; i < 150; ++i)
            to.push_back(nettest::loopback(refused.count(i) ? 0 : nettest::localPortOf(rx[i % 3])));
        const std::string payload("audio\0packet", 12);
        std::vector<int> results(to.size(), 12345);
        EXPECT_EQ(socket->sendToEach(to.data(), to.size(), payload.data(), int(payload.size()),
                                     results.data()),
                  to.size() - refused.size());
        int expected[kReceivers] = {};
        for (std::size_t i = 0; i < to.size(); ++i) {
            EXPECT_EQ(results[i], refused.count(i) ? -1 : int(payload.size())) << i;
            expected[i % 3] += refused.count(i) ? 0 : 1;
        }
        for (int r = 0; r < kReceivers; ++r) {
            int got = 0;
            char buf[64];
            ssize_t n = 0;
            while ((n = ::recv(rx[r], buf, sizeof buf, MSG_DONTWAIT)) >= 0) {
                EXPECT_EQ(std::string(buf, std::size_t(n)), payload);
                ++got;
            }
            EXPECT_EQ(got, expected[r]) << r;
            ::close(rx[r]);
        }
        // Without results, and to nobody.
        EXPECT_EQ(socket->sendToEach(to.data(), 2, payload.data(), int(payload.size()), nullptr),
                  1u);
        EXPECT_EQ(socket->sendToEach(to.data(), 0, payload.data(), int(payload.size()), nullptr),
                  0u);
        // A closed socket sends nothing and says so for every destination.
        socket->close();
        loop.processOnce();
        results.assign(3, 0);
        EXPECT_EQ(socket->sendToEach(to.data() + 1, 3, payload.data(), int(payload.size()),
                                     results.data()),
                  0u);
        EXPECT_EQ(results, std::vector<int>(3, -1));
    });
}

TEST(UdpDeathTest, UseOffTheLoopThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            std::shared_ptr<lumo::UdpSocket> socket;
            std::thread([&] { socket = lumo::udpSetup("127.0.0.1", 0, nullptr); }).join();
            socket->sendTo(0x7F000001u, 9, "x", 1);
        },
        "loop object used off its loop thread");
}

} // namespace
