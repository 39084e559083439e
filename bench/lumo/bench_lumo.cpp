// Loop pass and signal emission costs, each against a bare baseline measured in the same
// run; the ratios are printed at the end.
#include "lumo/eventloop.h"
#include "lumo/object.h"

#include "poller/poll_poller.h"
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDescriptors = 1000;
constexpr int kTimers = 10000;

struct IdleSockets {
    std::vector<int> fds; // the ends that are watched
    std::vector<int> all;
    IdleSockets() {
        rlimit lim{};
        getrlimit(RLIMIT_NOFILE, &lim);
        if (lim.rlim_cur < rlim_t(2 * kDescriptors + 64)) {
            lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 2 * kDescriptors + 64);
            setrlimit(RLIMIT_NOFILE, &lim);
        }
        for (int i = 0; i < kDescriptors; ++i) {
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
                break;
            fds.push_back(sv[0]);
            all.push_back(sv[0]);
            all.push_back(sv[1]);
        }
    }
    ~IdleSockets() {
        for (int fd : all)
            close(fd);
    }
};

class IdlePollable final : public lumo::IPollable {
public:
    explicit IdlePollable(int fd) : fd_(fd) {}
    int fd() const override { return fd_; }
    void onReadReady() override {}
    bool onWriteReady() override { return true; }
    void closeFd() override {}
    Object* object() const override { return const_cast<IdlePollable*>(this); }
    int events() const override { return lumo::kReadable; }
    void close() override { closed.emit(); }
    lumo::Signal<> closed;

private:
    int fd_;
};

// The loop under measurement must not sleep: every wait is turned into a poll with no
// time-out, as the baseline does.
class NoWaitPoller final : public lumo::IPoller {
public:
    void poll(int) override { inner.poll(0); }
    bool doRegister(lumo::IPollable* p) override { return inner.doRegister(p); }
    bool doUnregister(lumo::IPollable* p) override { return inner.doUnregister(p); }
    lumo::PollPoller inner;
};

void BM_BarePoll(benchmark::State& state) {
    // On a thread of its own like the loop: the kernel takes slower descriptor paths in a
    // multi-threaded process, and both sides must pay the same.
    std::thread([&] {
        IdleSockets sockets;
        std::vector<pollfd> fds;
        for (int fd : sockets.fds)
            fds.push_back(pollfd{fd, POLLIN, 0});
        for (auto _ : state)
            benchmark::DoNotOptimize(::poll(fds.data(), fds.size(), 0));
    }).join();
}

void BM_LoopPass(benchmark::State& state) {
    // A thread of its own keeps this loop apart from anything else in the process.
    std::thread([&] {
        IdleSockets sockets;
        auto* loop = lumo::EventLoopImpl::current();
        loop->setPoller(std::make_unique<NoWaitPoller>());
        std::vector<std::shared_ptr<IdlePollable>> pollables;
        for (int fd : sockets.fds) {
            pollables.push_back(std::make_shared<IdlePollable>(fd));
            loop->attach(pollables.back(), pollables.back()->closed);
        }
        std::vector<std::shared_ptr<lumo::Timer>> timers;
        for (int i = 0; i < kTimers; ++i)
            timers.push_back(loop->startTimer(3'600'000 + i));
        for (auto _ : state)
            loop->processOnce();
        for (auto& p : pollables)
            p->close();
        for (auto& t : timers)
            t->stop();
        loop->processOnce();
    }).join();
}

void BM_PlainFunctions(benchmark::State& state) {
    std::vector<std::function<void(const int&)>> fns;
    long sum = 0;
    for (int i = 0; i < state.range(0); ++i)
        fns.push_back([&sum](const int& v) { sum += v; });
    int v = 1;
    for (auto _ : state) {
        for (auto& fn : fns)
            fn(v);
        benchmark::DoNotOptimize(v);
    }
    benchmark::DoNotOptimize(sum);
}

void BM_SignalEmit(benchmark::State& state) {
    lumo::Signal<int> sig;
    long sum = 0;
    lumo::Object ctx;
    for (int i = 0; i < state.range(0); ++i)
        sig.connect(&ctx, [&sum](const int& v) { sum += v; });
    int v = 1;
    for (auto _ : state) {
        sig.emit(v);
        benchmark::DoNotOptimize(v);
    }
    benchmark::DoNotOptimize(sum);
}

BENCHMARK(BM_BarePoll);
BENCHMARK(BM_LoopPass);
BENCHMARK(BM_PlainFunctions)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_SignalEmit)->Arg(1)->Arg(10)->Arg(100);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(true);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("loop pass / bare poll, 1000 fds + 10k timers", "BM_LoopPass",
                        "BM_BarePoll", 2.0);
    for (const char* n : {"1", "10", "100"})
        reporter.printRatio(std::string("signal emit / plain loop, ") + n + " connections",
                            std::string("BM_SignalEmit/") + n,
                            std::string("BM_PlainFunctions/") + n, 1.5);
    benchmark::Shutdown();
    return 0;
}
