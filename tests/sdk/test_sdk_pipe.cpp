// The command pipe and the worker's life cycle where a test must reach inside: the order
// of writes from racing threads, the client's connection attempts, descriptors left
// behind. Linked against the static build of the library.
#include "sdk_test_support.h"

#include "audio_fixtures.h"

#include "pelzo/pelzo_sdk.h"
#include "vo_pelzo_sdk_core/cmd_pipe.h"
#include "vo_pelzo_sdk_core/vo_pelzo_sdk_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <lumo/clock.h>
#include <lumo/eventloop.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

// A flag one thread raises and others wait for. The wait has a guard so that a fault
// fails the test instead of hanging it.
class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

int openDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

const std::string& toneFile() {
    static audio_fixtures::TempDir dir;
    static const std::string path = [&] {
        const std::string p = dir.file("tone.wav");
        audio_fixtures::writeSineWav(p, 48000, 1, 0.2, 1000);
        return p;
    }();
    return path;
}

// --- a call racing pelzo_deinit ----------------------------------------------------------

struct RaceGates {
    Gate workerHeld;
    Gate releaseWorker;
    Gate creatorReady;
    Gate stopWritten;
    Gate creatorWritten;
    std::thread::id creator;
    std::thread::id deinit;
};
RaceGates* gRace = nullptr;

extern "C" void holdWorker(pelzo_src*) {
    gRace->workerHeld.open();
    gRace->releaseWorker.wait();
}

// The creator has its client in hand and writes only once the stop command is in the
// pipe; pelzo_deinit closes the pipe only once the creator's command is behind it.
void orderWrites(bool written) {
    const std::thread::id self = std::this_thread::get_id();
    if (self == gRace->creator && !written) {
        gRace->creatorReady.open();
        gRace->stopWritten.wait();
    } else if (self == gRace->creator && written) {
        gRace->creatorWritten.open();
    } else if (self == gRace->deinit && written) {
        gRace->stopWritten.open();
        gRace->creatorWritten.wait();
    }
}

// A command written right behind the stop command reaches the worker in the same read
// (the worker is held until both are in the pipe). It must not run on the stopping
// worker: the call fails, as every call after pelzo_deinit does.
TEST(SdkPipe, CommandsBehindTheStopCommandFail) {
    RaceGates gates;
    gRace = &gates;
    ASSERT_EQ(pelzo_init(), 0);
    pelzo_src* src = pelzo_src_create();
    ASSERT_NE(src, nullptr);
    src->on_open = holdWorker;
    ASSERT_EQ(pelzo_src_open_url(src, toneFile().c_str()), 0);
    ASSERT_TRUE(gates.workerHeld.wait());

    internal::CmdClient::setWriteObserver(orderWrites);
    pelzo_ctx* created = reinterpret_cast<pelzo_ctx*>(1);
    // Each thread publishes its own id before its first write, so the observer reads
    // them without a race.
    std::thread creator([&] {
        gates.creator = std::this_thread::get_id();
        created = pelzo_ctx_create();
    });
    ASSERT_TRUE(gates.creatorReady.wait());
    int deinitResult = -1;
    std::thread deinit([&] {
        gates.deinit = std::this_thread::get_id();
        deinitResult = pelzo_deinit();
    });
    const bool ordered = gates.creatorWritten.wait();
    gates.releaseWorker.open();
    creator.join();
    deinit.join();
    internal::CmdClient::setWriteObserver(nullptr);
    gRace = nullptr;

    ASSERT_TRUE(ordered) << "the writes did not happen in the forced order";
    EXPECT_EQ(deinitResult, 0);
    EXPECT_EQ(created, nullptr) << "a context was created on the stopping worker";
    // The SDK starts again cleanly afterwards.
    ASSERT_EQ(pelzo_init(), 0);
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 2), 0);
    pelzo_ctx_destroy(ctx);
    EXPECT_EQ(pelzo_deinit(), 0);
}

// --- pelzo_init that cannot connect its client -------------------------------------------

// With a single descriptor left the worker can listen but the client has none for its
// socket: pelzo_init fails, and the worker's server and listening socket go with it.
TEST(SdkPipe, InitThatCannotConnectLeavesNoDescriptorBehind) {
    internal::setClientConnectAttempts(3, 1);
    const int before = openDescriptors();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::atoi(entry.path().filename().c_str()));
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(highest + 8);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    ASSERT_FALSE(fillers.empty());
    ::close(fillers.back());
    fillers.pop_back();
    const int result = pelzo_init();
    for (int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    internal::setClientConnectAttempts(50, 60);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(pelzo_deinit(), 1);
    ASSERT_EQ(pelzo_init(), 0);
    EXPECT_EQ(pelzo_deinit(), 0);
    EXPECT_EQ(openDescriptors(), before);
}

// --- strangers on the command port ------------------------------------------------------

constexpr int64_t kStart = 1'800'000'000'000;
std::atomic<int64_t> gNow{kStart};
int64_t fakeNow() {
    return gNow.load();
}

int connectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool closedByPeer(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    return ::poll(&p, 1, 0) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
}

// A command server on this thread's loop, with the SDK's own client, a clock the test
// moves and the server's log lines with the time each was written.
class CommandPort : public ::testing::Test {
protected:
    void SetUp() override {
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        if (limit.rlim_cur < 3000) {
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 3000);
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        if (limit.rlim_cur < 3000) {
            GTEST_SKIP() << "needs 3000 descriptors, the limit is " << limit.rlim_max;
        }
        lumo::setTimeSource(&fakeNow);
        internal::CmdServer::logger().setSink([this](const std::string& line) {
            lines.push_back({gNow.load(), line});
        });
        loop = lumo::EventLoopImpl::current();
        // Bounds every poll to a millisecond of real time while the fake clock stands.
        tick = loop->startTimer(1);
        server = new internal::CmdServer(secret, ledger);
        ASSERT_TRUE(server->start());
        client = std::make_unique<internal::CmdClient>(server->port(), secret, ledger);
        ASSERT_TRUE(client->connect());
        ASSERT_TRUE(passUntil(
            [&] { return server->connectionCount() == 1 && server->unauthenticatedCount() == 0; }));
    }
    void TearDown() override {
        client.reset();
        if (server) {
            server->close();
            lumo::DeleteLater()(server);
            loop->processOnce();
        }
        if (tick)
            tick->stop();
        internal::CmdServer::logger().setSink({});
        lumo::setTimeSource(nullptr);
    }

    bool passUntil(const std::function<bool()>& done) {
        for (int guard = 0; guard < 20000; ++guard) {
            if (done())
                return true;
            loop->processOnce();
        }
        return done();
    }
    // A posted command from the SDK's client runs on the server's loop.
    bool callWorks() {
        bool ran = false;
        return client->call([&ran] { ran = true; }, false) && passUntil([&] { return ran; });
    }
    void advance(int64_t ms) {
        for (int64_t step = 0; step < ms; step += 100) {
            gNow += 100;
            loop->processOnce();
        }
    }
    // The counts of the report lines, summed.
    int reportedConnections() const {
        int sum = 0;
        for (const auto& [when, line] : lines) {
            const std::size_t at = line.find("turned away ");
            if (at != std::string::npos)
                sum += std::atoi(line.c_str() + at + 12);
        }
        return sum;
    }

    const std::string secret = internal::makeSecret();
    std::shared_ptr<internal::CommandLedger> ledger = std::make_shared<internal::CommandLedger>();
    lumo::EventLoopImpl* loop = nullptr;
    std::shared_ptr<lumo::Timer> tick;
    internal::CmdServer* server = nullptr;
    std::unique_ptr<internal::CmdClient> client;
    std::vector<std::pair<int64_t, std::string>> lines;
};

// A thousand connections that never say anything: the server keeps the first few,
// closes the others on arrival and the kept ones when their time is up; the SDK's own
// client is served throughout; one line a second at most says what was turned away.
TEST_F(CommandPort, IdleStrangersAreCappedTimedOutAndReportedOncePerSecond) {
    constexpr int kIdle = 1000;
    const internal::CommandPortLimits limits;
    const int before = openDescriptors();
    std::vector<int> idle;
    for (int i = 0; i < kIdle; ++i) {
        const int fd = connectLoopback(server->port());
        ASSERT_GE(fd, 0) << "connection " << i;
        idle.push_back(fd);
        // Accepted batch by batch, so the listen backlog never overflows.
        if (i % 8 == 7) {
            ASSERT_TRUE(passUntil([&] {
                return static_cast<int>(server->connectionCount()) - 1 + server->turnedAway() ==
                       i + 1;
            }));
        }
    }
    EXPECT_EQ(server->unauthenticatedCount(), limits.maxUnauthenticated);
    EXPECT_EQ(server->turnedAway(), kIdle - static_cast<int>(limits.maxUnauthenticated));
    EXPECT_LE(openDescriptors() - before, kIdle + static_cast<int>(limits.maxUnauthenticated));
    EXPECT_TRUE(callWorks());
    ASSERT_EQ(lines.size(), 1u) << "the first refusal is reported at once, the rest wait";

    // Just short of the time-out nothing more is closed; then the rest is.
    advance(limits.authTimeoutMs - 200);
    EXPECT_EQ(server->unauthenticatedCount(), limits.maxUnauthenticated);
    advance(1000);
    EXPECT_EQ(server->unauthenticatedCount(), 0u);
    EXPECT_EQ(server->connectionCount(), 1u) << "the SDK's client stays";
    ASSERT_TRUE(passUntil([&] { return std::all_of(idle.begin(), idle.end(), closedByPeer); }));
    EXPECT_TRUE(callWorks());

    advance(1000);
    EXPECT_EQ(reportedConnections(), kIdle);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_GE(lines[i].first - lines[i - 1].first, internal::CmdServer::kReportIntervalMs)
            << lines[i].second;

    for (int fd : idle)
        ::close(fd);
    loop->processOnce();
    EXPECT_EQ(openDescriptors(), before);
}

// A loop held up longer than the time-out (a slow command) does not cost a connection
// whose secret arrived meanwhile: it is read before the connection is judged.
TEST_F(CommandPort, AStalledLoopReadsWaitingSecretsFirst) {
    internal::CmdClient second(server->port(), secret, ledger);
    ASSERT_TRUE(second.connect());
    // One pass accepts it; its secret waits unread.
    ASSERT_TRUE(passUntil([&] { return server->connectionCount() == 2; }));
    gNow += 10 * internal::CommandPortLimits().authTimeoutMs;
    loop->processOnce();
    loop->processOnce();
    EXPECT_EQ(server->connectionCount(), 2u);
    EXPECT_EQ(server->unauthenticatedCount(), 0u);
    EXPECT_EQ(server->turnedAway(), 0);
}

} // namespace
