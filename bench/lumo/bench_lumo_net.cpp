// Loopback echo through lumo sockets against a minimal poll(2) echo server written
// directly on the socket API, both measured in the same run; ratios printed at the end.
#include "lumo/eventloop.h"
#include "lumo/net.h"

#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <future>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBulkBytes = 100u << 20;

struct Ports {
    std::uint16_t tcp = 0;
    std::uint16_t udp = 0;
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// Echo server on a lumo loop of its own thread.
class LumoEcho {
public:
    LumoEcho() {
        std::promise<Ports> ready;
        auto portsFuture = ready.get_future();
        thread_ = std::thread([this, &ready] {
            auto* loop = lumo::EventLoopImpl::current();
            auto server = loop->tcpListen("127.0.0.1", 0, nullptr);
            auto udp = loop->udpSetup("127.0.0.1", 0, nullptr);
            std::vector<std::shared_ptr<lumo::TcpSocket>> conns;
            server->newConnection.connect(nullptr, [&] {
                while (auto conn = server->nextPendingConnection()) {
                    lumo::TcpSocket* raw = conn.get();
                    conn->data.connect(nullptr, [raw](const std::string& bytes) {
                        raw->write(bytes.data(), int(bytes.size()));
                    });
                    conns.push_back(conn);
                }
            });
            udp->datagram.connect(nullptr, [&](const std::uint32_t& ip, const std::uint16_t& port,
                                               const std::string& payload) {
                udp->sendTo(ip, port, payload.data(), int(payload.size()));
            });
            auto stopper = loop->startTimer(20);
            stopper->timeout.connect(nullptr, [&] {
                if (stop_)
                    loop->quit();
            });
            ready.set_value(Ports{server->port(), udp->port()});
            loop->exec();
            for (auto& c : conns)
                c->close();
            server->close();
            udp->close();
            stopper->stop();
            loop->processOnce();
        });
        ports = portsFuture.get();
    }
    ~LumoEcho() {
        stop_ = true;
        thread_.join();
    }
    Ports ports;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The baseline: poll(2) over the listener, the UDP socket and the connections; blocking
// sends straight from the receive buffer.
class BareEcho {
public:
    BareEcho() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any = loopback(0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&any), sizeof any);
        ::listen(listener_, 10);
        ::bind(udp_, reinterpret_cast<sockaddr*>(&any), sizeof any);
        ports.tcp = portOf(listener_);
        ports.udp = portOf(udp_);
        thread_ = std::thread([this] { run(); });
    }
    ~BareEcho() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
        ::close(udp_);
    }
    Ports ports;

private:
    static std::uint16_t portOf(int fd) {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        return ntohs(addr.sin_port);
    }

    void run() {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}, {udp_, POLLIN, 0}};
        std::vector<char> buf(64 * 1024);
        while (!stop_) {
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                if (fds[i].fd == listener_) {
                    const int c = ::accept(listener_, nullptr, nullptr);
                    if (c >= 0)
                        fds.push_back({c, POLLIN, 0});
                } else if (fds[i].fd == udp_) {
                    sockaddr_in from{};
                    socklen_t len = sizeof from;
                    const ssize_t n = ::recvfrom(udp_, buf.data(), buf.size(), 0,
                                                 reinterpret_cast<sockaddr*>(&from), &len);
                    if (n >= 0)
                        ::sendto(udp_, buf.data(), std::size_t(n), 0,
                                 reinterpret_cast<sockaddr*>(&from), len);
                } else {
                    const ssize_t n = ::recv(fds[i].fd, buf.data(), buf.size(), 0);
                    if (n <= 0) {
                        ::close(fds[i].fd);
                        fds[i].fd = -1;
                        continue;
                    }
                    for (ssize_t sent = 0; sent < n;) {
                        const ssize_t m = ::send(fds[i].fd, buf.data() + sent,
                                                 std::size_t(n - sent), MSG_NOSIGNAL);
                        if (m <= 0)
                            break;
                        sent += m;
                    }
                }
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i)
            if (fds[i].fd >= 0)
                ::close(fds[i].fd);
    }

    int listener_;
    int udp_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int connectTcp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in addr = loopback(port);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    return fd;
}

bool readExactly(int fd, char* buf, std::size_t len) {
    for (std::size_t got = 0; got < len;) {
        const ssize_t n = ::recv(fd, buf + got, len - got, 0);
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }
    return true;
}

template <typename Server> void roundTrips(benchmark::State& state) {
    Server server;
    const int fd = connectTcp(server.ports.tcp);
    char req[64] = {1};
    char resp[64];
    for (auto _ : state) {
        ::send(fd, req, sizeof req, MSG_NOSIGNAL);
        if (!readExactly(fd, resp, sizeof resp)) {
            state.SkipWithError("echo failed");
            break;
        }
    }
    ::close(fd);
}

template <typename Server> void bulk(benchmark::State& state) {
    Server server;
    const int fd = connectTcp(server.ports.tcp);
    std::vector<char> chunk(64 * 1024, 'b');
    std::vector<char> in(256 * 1024);
    for (auto _ : state) {
        std::thread writer([&] {
            for (std::size_t sent = 0; sent < kBulkBytes; sent += chunk.size())
                for (std::size_t off = 0; off < chunk.size();) {
                    const ssize_t n =
                        ::send(fd, chunk.data() + off, chunk.size() - off, MSG_NOSIGNAL);
                    if (n <= 0)
                        return;
                    off += std::size_t(n);
                }
        });
        std::size_t got = 0;
        while (got < kBulkBytes) {
            const ssize_t n = ::recv(fd, in.data(), in.size(), 0);
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        writer.join();
        if (got != kBulkBytes)
            state.SkipWithError("short echo");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBulkBytes));
    ::close(fd);
}

template <typename Server> void udpPingPong(benchmark::State& state) {
    Server server;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = loopback(server.ports.udp);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    char msg[200] = {2};
    char back[4096];
    for (auto _ : state) {
        ::send(fd, msg, sizeof msg, 0);
        if (::recv(fd, back, sizeof back, 0) != ssize_t(sizeof msg)) {
            state.SkipWithError("no echo");
            break;
        }
    }
    ::close(fd);
}

void BM_BareRoundTrip(benchmark::State& s) {
    roundTrips<BareEcho>(s);
}
void BM_LumoRoundTrip(benchmark::State& s) {
    roundTrips<LumoEcho>(s);
}
void BM_BareBulk(benchmark::State& s) {
    bulk<BareEcho>(s);
}
void BM_LumoBulk(benchmark::State& s) {
    bulk<LumoEcho>(s);
}
void BM_BareUdp(benchmark::State& s) {
    udpPingPong<BareEcho>(s);
}
void BM_LumoUdp(benchmark::State& s) {
    udpPingPong<LumoEcho>(s);
}

BENCHMARK(BM_BareRoundTrip)->UseRealTime();
BENCHMARK(BM_LumoRoundTrip)->UseRealTime();
BENCHMARK(BM_BareBulk)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LumoBulk)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareUdp)->UseRealTime();
BENCHMARK(BM_LumoUdp)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(false);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("tcp 64-byte round trip lumo/bare", "BM_LumoRoundTrip", "BM_BareRoundTrip",
                        1.5);
    reporter.printRatio("tcp 100 MB bulk echo lumo/bare", "BM_LumoBulk", "BM_BareBulk", 1.2);
    reporter.printRatio("udp 200-byte ping-pong lumo/bare", "BM_LumoUdp", "BM_BareUdp", 1.5);
    benchmark::Shutdown();
    return 0;
}
