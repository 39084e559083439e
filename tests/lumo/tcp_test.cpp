#include "lumo/eventloop.h"
#include "lumo/net.h"

#include "net_test_util.h"
#include "tcpserver/tcp_server_impl.h"
#include "tcpsocket/tcp_socket_impl.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>

namespace {

using lumo::EventLoopImpl;
using lumo::TcpSocket;
using nettest::connectTo;
using nettest::onFreshLoop;
using nettest::spin;

// Waits for the next accepted connection of `server`.
std::shared_ptr<TcpSocket> acceptOne(EventLoopImpl& loop, lumo::TcpServer& server) {
    EXPECT_TRUE(spin(loop, [&] { return server.hasPendingConnections(); }));
    return server.nextPendingConnection();
}

TEST(TcpListen, AddressesWithSystemChosenPort) {
    for (const char* address : {"", "0.0.0.0", "127.0.0.1"}) {
        onFreshLoop([&](EventLoopImpl& loop) {
            std::string error = "untouched";
            auto server = loop.tcpListen(address, 0, &error);
            ASSERT_TRUE(server) << '"' << address << "\": " << error;
            EXPECT_EQ(error, "untouched");
            EXPECT_NE(server->port(), 0);
            EXPECT_EQ(server->address(), address);
            EXPECT_TRUE(server->isListening());
            const int client = connectTo(server->port());
            auto conn = acceptOne(loop, *server);
            ASSERT_TRUE(conn);
            EXPECT_EQ(conn->peerPort(), nettest::localPortOf(client));
            EXPECT_EQ(conn->peerIp(), 0x7F000001u);
            EXPECT_EQ(conn->peerAddress(), "127.0.0.1");
            EXPECT_EQ(conn->localPort(), server->port());
            EXPECT_EQ(conn->localAddress(), "127.0.0.1");
            EXPECT_EQ(conn->macAddress(), "00:00:00:00:00:00");
            EXPECT_TRUE(conn->isServerSide());
            EXPECT_EQ(conn->state(), TcpSocket::Connected);
            ::close(client);
        });
    }
}

TEST(TcpListen, FailuresGiveTextAndEmptyHandle) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto taken = loop.tcpListen("127.0.0.1", 0, nullptr);
        ASSERT_TRUE(taken);
        const std::string busyPort = std::to_string(taken->port());
        const struct {
            const char* address;
            std::uint16_t port;
            const char* error;
            const char* line;
        } cases[] = {
            {"300.1.1.1", 0, "invalid address \"300.1.1.1\"",
             "lumo::EventLoopImpl::tcpListen: invalid address \"300.1.1.1\": invalid address"},
            {"localhost", 0, "invalid address \"localhost\"", "invalid address"},
            {"127.0.0.1", taken->port(), "Address already in use",
             "lumo::EventLoopImpl::tcpListen: bind(): Address already in use"},
        };
        for (const auto& c : cases) {
            nettest::LogCapture log;
            std::string error;
            auto server = loop.tcpListen(c.address, c.port, &error);
            EXPECT_FALSE(server) << c.address;
            EXPECT_EQ(error, c.error);
            EXPECT_TRUE(log.contains("[error]")) << c.address;
            EXPECT_TRUE(log.contains(c.line)) << c.address;
        }
        // The free function uses the calling thread's loop and fails alike.
        nettest::LogCapture log;
        std::string error;
        EXPECT_FALSE(lumo::tcpListen("300.1.1.1", 0, &error));
        EXPECT_EQ(error, "invalid address \"300.1.1.1\"");
    });
}

TEST(TcpServer, ThreeClientsGiveOneNewConnectionInAcceptOrder) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        ASSERT_TRUE(server);
        int announcements = 0;
        server->newConnection.connect(nullptr, [&] { ++announcements; });
        int clients[3];
        for (int& c : clients)
            c = connectTo(server->port());
        ASSERT_TRUE(spin(loop, [&] { return announcements > 0; }));
        EXPECT_EQ(announcements, 1);
        for (int c : clients) {
            auto conn = server->nextPendingConnection();
            ASSERT_TRUE(conn);
            EXPECT_EQ(conn->peerPort(), nettest::localPortOf(c));
        }
        EXPECT_FALSE(server->hasPendingConnections());
        EXPECT_FALSE(server->nextPendingConnection());
        for (int c : clients)
            ::close(c);
    });
}

TEST(TcpServer, DescriptorZeroIsAValidConnection) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        ASSERT_TRUE(server);
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        // Free descriptor 0 so the accepted connection receives it.
        const int savedStdin = ::dup(0);
        ::close(0);
        const sockaddr_in addr = nettest::loopback(server->port());
        ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        auto conn = acceptOne(loop, *server);
        ASSERT_TRUE(conn);
        EXPECT_EQ(conn->fd(), 0);
        std::string got;
        conn->data.connect(nullptr, [&](const std::string& bytes) { got += bytes; });
        ASSERT_EQ(::write(client, "zero", 4), 4);
        EXPECT_TRUE(spin(loop, [&] { return got == "zero"; }));
        conn->close();
        ::close(client);
        spin(loop, [&] { return conn->fd() == -1; });
        ::dup2(savedStdin, 0);
        ::close(savedStdin);
    });
}

TEST(TcpSocket, PeerSendsAndCloses) {
    onFreshLoop([&](EventLoopImpl& loop) {
        nettest::LogCapture log;
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        const int client = connectTo(server->port());
        auto conn = acceptOne(loop, *server);
        ASSERT_TRUE(conn);
        std::vector<std::string> events;
        std::string received;
        conn->data.connect(nullptr, [&](const std::string& bytes) {
            events.push_back("data");
            received += bytes;
        });
        conn->disconnected.connect(nullptr, [&] { events.push_back("disconnected"); });
        std::string payload(5000, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = char(i * 7);
        ASSERT_EQ(::write(client, payload.data(), payload.size()), 5000);
        ::close(client);
        ASSERT_TRUE(spin(loop, [&] { return !events.empty() && events.back() == "disconnected"; }));
        EXPECT_EQ(events, (std::vector<std::string>{"data", "disconnected"}));
        EXPECT_EQ(received, payload);
        EXPECT_TRUE(log.contains("[debug]"));
        EXPECT_TRUE(log.contains("connect reset by peer"));
        EXPECT_EQ(conn->state(), TcpSocket::Unconnected);
        EXPECT_EQ(conn->fd(), -1);
        EXPECT_EQ(conn->write("x", 1), -1) << "writing to a closed socket is refused";
    });
}

TEST(TcpSocket, BigWriteRaisesAndLowersInterestOnce) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        // Small buffers on both ends, so 1 MB cannot vanish into the kernel at once.
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 16 * 1024;
        ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        const sockaddr_in addr = nettest::loopback(server->port());
        ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        auto conn = std::dynamic_pointer_cast<lumo::TcpSocketImpl>(acceptOne(loop, *server));
        ASSERT_TRUE(conn);
        ::setsockopt(conn->fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        std::vector<int> masks;
        conn->eventsChanged.connect(nullptr, [&] { masks.push_back(conn->events()); });
        std::string payload(1 << 20, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = char(i % 251);
        EXPECT_EQ(conn->write(payload.data(), int(payload.size())), int(payload.size()));
        EXPECT_GT(conn->pendingOutput(), 0u) << "a reader that reads nothing keeps the rest";
        EXPECT_EQ(masks, std::vector<int>{3});

        // The slow reader catches up between passes.
        ::fcntl(client, F_SETFL, O_NONBLOCK);
        std::string got;
        char buf[16384];
        ASSERT_TRUE(spin(loop, [&] {
            ssize_t n;
            while ((n = ::read(client, buf, sizeof buf)) > 0)
                got.append(buf, std::size_t(n));
            return got.size() == payload.size();
        }));
        spin(loop, [&] { return masks.size() >= 2; });
        EXPECT_EQ(masks, (std::vector<int>{3, 1}));
        EXPECT_EQ(conn->pendingOutput(), 0u);
        EXPECT_TRUE(got == payload);
        ::close(client);
    });
}

TEST(TcpSocket, PeerResetDuringWriteClosesWithoutSignal) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        const int client = connectTo(server->port());
        auto conn = acceptOne(loop, *server);
        ASSERT_TRUE(conn);
        bool disconnected = false;
        conn->disconnected.connect(nullptr, [&] { disconnected = true; });
        std::string payload(4 << 20, 'p');
        conn->write(payload.data(), int(payload.size()));
        // Abort the connection: the peer answers further segments with a reset.
        linger hard{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(client);
        // Without MSG_NOSIGNAL the next send would kill this process with SIGPIPE.
        ASSERT_TRUE(spin(loop, [&] { return disconnected; }));
        EXPECT_EQ(conn->write("more", 4), -1);
    });
}

TEST(Sockets, CloseTwiceEmitsClosedOnce) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        auto serverImpl = std::dynamic_pointer_cast<lumo::TcpServerImpl>(server);
        const int client = connectTo(server->port());
        auto conn = std::dynamic_pointer_cast<lumo::TcpSocketImpl>(acceptOne(loop, *server));
        ASSERT_TRUE(serverImpl && conn);
        int connClosed = 0, serverClosed = 0, disconnects = 0;
        conn->closed.connect(nullptr, [&] { ++connClosed; });
        conn->disconnected.connect(nullptr, [&] { ++disconnects; });
        serverImpl->closed.connect(nullptr, [&] { ++serverClosed; });
        const std::size_t registered = loop.pollableCount();
        conn->close();
        conn->close();
        server->close();
        server->close();
        EXPECT_EQ(connClosed, 1);
        EXPECT_EQ(serverClosed, 1);
        EXPECT_FALSE(server->isListening());
        EXPECT_EQ(disconnects, 0) << "the descriptor goes at the end of the pass";
        loop.processOnce();
        EXPECT_EQ(disconnects, 1);
        EXPECT_EQ(conn->fd(), -1);
        EXPECT_EQ(server->fd(), -1);
        EXPECT_EQ(loop.pollableCount(), registered - 2);
        // Handles stay usable after close.
        EXPECT_EQ(conn->peerAddress(), "127.0.0.1");
        EXPECT_NE(server->port(), 0);
        ::close(client);
    });
}

// A layer that holds output until the peer says "hello", and upper-cases what it sends.
class HandshakeLayer final : public lumo::SecureLayer {
public:
    int write(const char* data, int len) override {
        std::string bytes(data, std::size_t(len));
        for (char& c : bytes)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        output.emit(bytes);
        return len;
    }
    int feed(const char* data, int len) override {
        const std::string bytes(data, std::size_t(len));
        if (!ready_) {
            if (bytes == "hello") {
                ready_ = true;
                ready.emit();
            } else {
                error.emit("handshake refused");
            }
            return len;
        }
        input.emit(bytes);
        return len;
    }
    bool isReady() const override { return ready_; }
    bool startServer() override { return true; }
    bool startClient() override { return true; }

private:
    bool ready_ = false;
};

class HandshakeFactory final : public lumo::LayerFactory {
public:
    std::shared_ptr<lumo::SecureLayer> create() override {
        return std::make_shared<HandshakeLayer>();
    }
};

TEST(TcpSocket, LayerHoldsOutputUntilReady) {
    onFreshLoop([&](EventLoopImpl& loop) {
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        server->setLayerFactory(std::make_shared<HandshakeFactory>());
        const int client = connectTo(server->port());
        auto conn = acceptOne(loop, *server);
        ASSERT_TRUE(conn);
        std::string got;
        conn->data.connect(nullptr, [&](const std::string& bytes) { got += bytes; });
        EXPECT_EQ(conn->write("early ", 6), 6);
        ::fcntl(client, F_SETFL, O_NONBLOCK);
        char buf[64];
        loop.processOnce();
        EXPECT_EQ(::read(client, buf, sizeof buf), -1) << "nothing leaves before the handshake";
        ASSERT_EQ(::write(client, "hello", 5), 5);
        std::string sent;
        ASSERT_TRUE(spin(loop, [&] {
            ssize_t n;
            while ((n = ::read(client, buf, sizeof buf)) > 0)
                sent.append(buf, std::size_t(n));
            return sent == "EARLY ";
        }));
        ASSERT_EQ(::write(client, "data", 4), 4);
        EXPECT_TRUE(spin(loop, [&] { return got == "data"; }));
        ::close(client);
    });
}

TEST(TcpSocket, LayerErrorClosesWithWarning) {
    onFreshLoop([&](EventLoopImpl& loop) {
        nettest::LogCapture log;
        auto server = loop.tcpListen("127.0.0.1", 0, nullptr);
        server->setLayerFactory(std::make_shared<HandshakeFactory>());
        const int client = connectTo(server->port());
        auto conn = acceptOne(loop, *server);
        ASSERT_TRUE(conn);
        bool disconnected = false;
        conn->disconnected.connect(nullptr, [&] { disconnected = true; });
        ASSERT_EQ(::write(client, "bogus", 5), 5);
        ASSERT_TRUE(spin(loop, [&] { return disconnected; }));
        EXPECT_TRUE(log.contains("[warn]"));
        EXPECT_TRUE(log.contains("handshake refused"));
        ::close(client);
    });
}

} // namespace
