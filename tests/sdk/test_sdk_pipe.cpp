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
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
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

} // namespace
