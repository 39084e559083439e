// The command pipe's cost: a waited call's round trip against a bare mutex and condition
// variable handshake between two threads (the floor any thread hand-over pays) and
// against the loopback TCP hop the pipe rides on; and the rate at which posted frames
// are taken and streamed to ten terminals.
#include "bench_result.h"

#include "sdk_test_support.h"

#include "pelzo/pelzo_sdk.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
};

Percentiles percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

template <typename Fn> Percentiles timeEach(int rounds, Fn fn) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        fn();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return percentiles(std::move(us));
}

// Two threads: the caller hands a request over and waits for the answer.
class Handshake {
public:
    Handshake() : worker_([this] { serve(); }) {}
    ~Handshake() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        cond_.notify_all();
        worker_.join();
    }
    void roundTrip() {
        std::unique_lock<std::mutex> lock(mutex_);
        requested_ = true;
        cond_.notify_all();
        cond_.wait(lock, [this] { return !requested_; });
    }

private:
    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cond_.wait(lock, [this] { return requested_ || quit_; });
            if (quit_)
                return;
            requested_ = false;
            cond_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable cond_;
    bool requested_ = false;
    bool quit_ = false;
    std::thread worker_;
};

// The transport under the pipe alone: 8 bytes over loopback TCP to a thread blocked in
// poll, which sets a flag the sender watches. What a waited call pays at the least.
class TcpHop {
public:
    TcpHop() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        client_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        server_ = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        const int on = 1;
        ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(server_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        worker_ = std::thread([this] {
            char buf[64];
            for (;;) {
                pollfd p{server_, POLLIN, 0};
                ::poll(&p, 1, 1000);
                if (::recv(server_, buf, sizeof buf, MSG_DONTWAIT) <= 0)
                    return;
                arrived_.store(true, std::memory_order_release);
            }
        });
    }
    ~TcpHop() {
        ::shutdown(client_, SHUT_RDWR);
        worker_.join();
        ::close(client_);
        ::close(server_);
    }
    void roundTrip() {
        arrived_.store(false, std::memory_order_relaxed);
        ::send(client_, "12345678", 8, MSG_NOSIGNAL);
        while (!arrived_.load(std::memory_order_acquire)) {
        }
    }

private:
    int client_ = -1;
    int server_ = -1;
    std::atomic<bool> arrived_{false};
    std::thread worker_;
};

} // namespace

int main() {
    const bool privateNetwork = netns::enterLoopbackOnly();
    constexpr int kWarmup = 2000;
    constexpr int kRounds = 20000;

    Percentiles bare;
    {
        Handshake handshake;
        timeEach(kWarmup, [&] { handshake.roundTrip(); });
        bare = timeEach(kRounds, [&] { handshake.roundTrip(); });
    }

    Percentiles hop;
    {
        TcpHop tcp;
        timeEach(kWarmup, [&] { tcp.roundTrip(); });
        hop = timeEach(kRounds, [&] { tcp.roundTrip(); });
    }

    if (pelzo_init() != 0) {
        std::fprintf(stderr, "bench_sdk: pelzo_init failed\n");
        return 1;
    }
    pelzo_ctx* ctx = pelzo_ctx_create();
    timeEach(kWarmup, [&] { pelzo_ctx_set_priority(ctx, 3); });
    const Percentiles waited = timeEach(kRounds, [&] { pelzo_ctx_set_priority(ctx, 3); });

    // Ten terminals that only receive.
    std::vector<std::unique_ptr<sdktest::UdpListener>> terminals;
    for (int i = 0; i < 10; ++i) {
        const std::string address = sdktest::nextAddress(privateNetwork);
        terminals.push_back(std::make_unique<sdktest::UdpListener>(address));
        pelzo_ctx_add_dev(ctx, address.c_str(), nullptr);
    }
    const std::string frame(1920, '\0');
    constexpr int kFrames = 20000;
    const auto start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        pelzo_ctx_play_frame(ctx, frame.data(), static_cast<int>(frame.size()));
        if (i % 256 == 0)
            for (auto& t : terminals)
                t->drain();
    }
    // Returns once every posted frame was encoded and sent.
    pelzo_ctx_set_priority(ctx, 3);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    pelzo_ctx_destroy(ctx);
    pelzo_deinit();

    std::printf("bare handshake      p50 %8.2f us   p99 %8.2f us\n", bare.p50, bare.p99);
    std::printf("loopback TCP hop    p50 %8.2f us   p99 %8.2f us\n", hop.p50, hop.p99);
    std::printf("waited call         p50 %8.2f us   p99 %8.2f us\n", waited.p50, waited.p99);
    std::printf("ratio waited call / bare handshake  p50 %6.2fx  p99 %6.2fx (goal <= 1.5x)\n",
                waited.p50 / bare.p50, waited.p99 / bare.p99);
    std::printf("ratio waited call / loopback TCP hop p50 %6.2fx  p99 %6.2fx\n",
                waited.p50 / hop.p50, waited.p99 / hop.p99);
    std::printf("posted frames (1920 bytes, 10 terminals) %10.0f frames/s (goal >= 10000)\n",
                kFrames / seconds);
    std::printf("ratio posted rate / goal %6.2fx\n", kFrames / seconds / 10000.0);
    bench::atMost("waited call p50 / bare handshake", waited.p50 / bare.p50, 1.5);
    bench::atMost("waited call p99 / bare handshake", waited.p99 / bare.p99, 1.5);
    bench::result("waited call p50 / loopback TCP hop", waited.p50 / hop.p50);
    bench::atLeast("posted frames/s to 10 terminals / 10000 frames/s", kFrames / seconds / 10000.0,
                   1);
    return 0;
}
