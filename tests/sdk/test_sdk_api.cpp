// The SDK through its installed C header only, linked against the shared library as an
// embedding program links it: life cycle, handle checks, the command pipe under
// concurrent callers and strangers, callbacks, and streaming to terminals.
#include "sdk_test_support.h"

#include "audio_fixtures.h"
#include "pelzo_terminal.h"
#include "pelzo_wire.h"

#include "pelzo/pelzo_sdk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using sdktest::Event;
using sdktest::recordAll;
using sdktest::Recorder;
using sdktest::UdpListener;

namespace {

const bool gPrivateNetwork = netns::enterLoopbackOnly();

std::string nextAddress() {
    return sdktest::nextAddress(gPrivateNetwork);
}

// A 1 kHz tone of `seconds`, written once per program.
const std::string& toneFile(double seconds = 0.4) {
    static audio_fixtures::TempDir dir;
    static const std::string path = [&] {
        const std::string p = dir.file("tone.wav");
        audio_fixtures::writeSineWav(p, 44100, 2, seconds, 1000);
        return p;
    }();
    return path;
}

constexpr int kNoResult = -100;

// One export taking a context and/or a source, with its result for valid handles
// (kNoResult for exports without a result).
struct ExportCase {
    const char* name;
    std::function<int(pelzo_ctx*, pelzo_src*)> call;
    int validResult;
};

std::vector<ExportCase> exportCases(const std::string& address) {
    const std::string file = toneFile();
    auto noResult = [](std::function<void(pelzo_ctx*, pelzo_src*)> fn) {
        return [fn](pelzo_ctx* c, pelzo_src* s) {
            fn(c, s);
            return kNoResult;
        };
    };
    static const char frame[1920] = {};
    return {
        {"pelzo_ctx_add_dev",
         [=](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_add_dev(c, address.c_str(), "pw"); }, 0},
        {"pelzo_ctx_set_ao_volume", noResult([=](pelzo_ctx* c, pelzo_src*) {
             pelzo_ctx_set_ao_volume(c, address.c_str(), 40);
         }),
         kNoResult},
        {"pelzo_ctx_set_ao_volume_all",
         noResult([](pelzo_ctx* c, pelzo_src*) { pelzo_ctx_set_ao_volume_all(c, 41); }), kNoResult},
        {"pelzo_ctx_del_dev",
         [=](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_del_dev(c, address.c_str()); }, 0},
        {"pelzo_ctx_set_capture_dev",
         [=](pelzo_ctx* c, pelzo_src*) {
             return pelzo_ctx_set_capture_dev(c, address.c_str(), "pw");
         },
         0},
        {"pelzo_ctx_start_capture",
         [](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_start_capture(c, 16000); }, 0},
        {"pelzo_ctx_set_ai_volume",
         noResult([](pelzo_ctx* c, pelzo_src*) { pelzo_ctx_set_ai_volume(c, 30); }), kNoResult},
        {"pelzo_ctx_stop_capture",
         noResult([](pelzo_ctx* c, pelzo_src*) { pelzo_ctx_stop_capture(c); }), kNoResult},
        {"pelzo_ctx_set_bitrate",
         [](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_set_bitrate(c, 64000); }, 0},
        {"pelzo_ctx_set_jitter_size",
         [](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_set_jitter_size(c, 3, 10); }, 0},
        {"pelzo_ctx_set_pack_size",
         [](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_set_pack_size(c, 2); }, 0},
        {"pelzo_ctx_set_priority",
         [](pelzo_ctx* c, pelzo_src*) { return pelzo_ctx_set_priority(c, 5); }, 0},
        {"pelzo_ctx_play_frame",
         noResult([](pelzo_ctx* c, pelzo_src*) { pelzo_ctx_play_frame(c, frame, sizeof frame); }),
         kNoResult},
        {"pelzo_ctx_connect_src",
         noResult([](pelzo_ctx* c, pelzo_src* s) { pelzo_ctx_connect_src(c, s); }), kNoResult},
        {"pelzo_ctx_disconnect_src",
         noResult([](pelzo_ctx* c, pelzo_src*) { pelzo_ctx_disconnect_src(c); }), kNoResult},
        {"pelzo_src_set_loop",
         noResult([](pelzo_ctx*, pelzo_src* s) { pelzo_src_set_loop(s, true); }), kNoResult},
        {"pelzo_src_open_url",
         [=](pelzo_ctx*, pelzo_src* s) { return pelzo_src_open_url(s, file.c_str()); }, 0},
    };
}

// Records that were never handed out by the SDK.
pelzo_ctx gForeignCtx{};
pelzo_src gForeignSrc{};

class SdkTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorder::instance().clear();
        ASSERT_EQ(pelzo_init(), 0);
    }
    void TearDown() override { EXPECT_EQ(pelzo_deinit(), 0); }
};

// --- life cycle ------------------------------------------------------------------------

TEST(SdkLifecycle, EveryExportFailsOutsideInitAndInitRepeats) {
    auto expectAllFail = [](const char* when) {
        SCOPED_TRACE(when);
        for (const ExportCase& c : exportCases("127.0.0.9")) {
            const int r = c.call(&gForeignCtx, &gForeignSrc);
            EXPECT_TRUE(r == 1 || r == kNoResult) << c.name;
        }
        EXPECT_EQ(pelzo_ctx_create(), nullptr);
        EXPECT_EQ(pelzo_src_create(), nullptr);
        EXPECT_EQ(pelzo_start_rest_server("127.0.0.1", 0), 1);
        pelzo_ctx_destroy(&gForeignCtx);
        pelzo_src_destroy(&gForeignSrc);
        EXPECT_EQ(pelzo_deinit(), 1);
        EXPECT_GT(pelzo_current_time_ms(), 0);
    };
    expectAllFail("before pelzo_init");

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(pelzo_init(), 0);
        EXPECT_EQ(pelzo_init(), 0) << "a second init keeps the running SDK";
        pelzo_ctx* ctx = pelzo_ctx_create();
        ASSERT_NE(ctx, nullptr);
        EXPECT_EQ(pelzo_ctx_set_priority(ctx, 4), 0);
        pelzo_ctx_destroy(ctx);
        ASSERT_EQ(pelzo_deinit(), 0);
        expectAllFail("after pelzo_deinit");
    }
}

// A handle left alive at pelzo_deinit belongs to the stopped worker: after the next
// pelzo_init it is refused instead of reaching objects of a finished thread.
TEST(SdkLifecycle, HandlesDoNotOutliveTheirWorker) {
    ASSERT_EQ(pelzo_init(), 0);
    pelzo_ctx* ctx = pelzo_ctx_create();
    pelzo_src* src = pelzo_src_create();
    ASSERT_NE(ctx, nullptr);
    ASSERT_NE(src, nullptr);
    ASSERT_EQ(pelzo_deinit(), 0);
    ASSERT_EQ(pelzo_init(), 0);
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 1), 1);
    EXPECT_EQ(pelzo_src_open_url(src, toneFile().c_str()), 1);
    EXPECT_EQ(pelzo_deinit(), 0);
}

// Callers still busy on other threads when pelzo_deinit runs are all released: their
// commands either ran or fail, none waits for a worker that is gone.
TEST(SdkLifecycle, DeinitReleasesCallersOnOtherThreads) {
    ASSERT_EQ(pelzo_init(), 0);
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    std::atomic<int> calls{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&] {
            while (pelzo_ctx_set_priority(ctx, 3) == 0)
                ++calls;
        });
    while (calls.load() < 30) {
    }
    EXPECT_EQ(pelzo_deinit(), 0);
    for (std::thread& t : callers)
        t.join();
}

// With no descriptor left the worker cannot listen: pelzo_init says so instead of
// waiting for a command server that never comes, and works once descriptors are back.
TEST(SdkLifecycle, InitFailsWhenTheCommandServerCannotListen) {
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
    const int result = pelzo_init();
    for (int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(pelzo_deinit(), 1);
    ASSERT_EQ(pelzo_init(), 0);
    EXPECT_EQ(pelzo_deinit(), 0);
}

// --- handles -----------------------------------------------------------------------------

TEST_F(SdkTest, EveryExportChecksItsHandles) {
    pelzo_ctx* ctx = pelzo_ctx_create();
    pelzo_src* src = pelzo_src_create();
    ASSERT_NE(ctx, nullptr);
    ASSERT_NE(src, nullptr);
    pelzo_ctx* goneCtx = pelzo_ctx_create();
    pelzo_src* goneSrc = pelzo_src_create();
    pelzo_ctx_destroy(goneCtx);
    pelzo_src_destroy(goneSrc);

    const std::string address = nextAddress();
    for (const ExportCase& c : exportCases(address)) {
        EXPECT_EQ(c.call(ctx, src), c.validResult) << c.name << " with valid handles";
        const std::pair<pelzo_ctx*, pelzo_src*> invalid[] = {
            {nullptr, nullptr}, {&gForeignCtx, &gForeignSrc}, {goneCtx, goneSrc}};
        for (const auto& [badCtx, badSrc] : invalid) {
            const int r = c.call(badCtx, badSrc);
            EXPECT_EQ(r, c.validResult == kNoResult ? kNoResult : 1)
                << c.name << " with an invalid handle";
        }
    }
    // Destroying invalid handles does nothing; the valid ones still work afterwards.
    pelzo_ctx_destroy(&gForeignCtx);
    pelzo_src_destroy(&gForeignSrc);
    pelzo_ctx_destroy(goneCtx);
    pelzo_src_destroy(goneSrc);
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 3), 0);
    EXPECT_EQ(pelzo_src_open_url(src, toneFile().c_str()), 0);
    // Null texts are refused rather than read.
    EXPECT_EQ(pelzo_ctx_add_dev(ctx, nullptr, "x"), 1);
    EXPECT_EQ(pelzo_ctx_del_dev(ctx, nullptr), 1);
    EXPECT_EQ(pelzo_ctx_set_capture_dev(ctx, nullptr, nullptr), 1);
    EXPECT_EQ(pelzo_src_open_url(src, nullptr), 1);
    pelzo_ctx_set_ao_volume(ctx, nullptr, 10);
    pelzo_ctx_play_frame(ctx, nullptr, 1920);
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
}

TEST_F(SdkTest, WaitedCallsFromTwoThreadsGetTheirOwnResults) {
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    constexpr int kCalls = 400;
    std::atomic<int> ready{0};
    auto caller = [&](pelzo_ctx* handle, int expected, int* mismatches) {
        ++ready;
        while (ready.load() < 2) {
        }
        for (int i = 0; i < kCalls; ++i)
            *mismatches += pelzo_ctx_set_priority(handle, i % 16) != expected ? 1 : 0;
    };
    int validMismatches = 0;
    int invalidMismatches = 0;
    std::thread a(caller, ctx, 0, &validMismatches);
    std::thread b(caller, &gForeignCtx, 1, &invalidMismatches);
    a.join();
    b.join();
    EXPECT_EQ(validMismatches, 0);
    EXPECT_EQ(invalidMismatches, 0);
    pelzo_ctx_destroy(ctx);
}

// --- callbacks ---------------------------------------------------------------------------

struct ReentryResults {
    std::atomic<bool> done{false};
    pelzo_ctx* created = reinterpret_cast<pelzo_ctx*>(1);
    int init = -1;
    int deinit = -1;
    int priority = -1;
};
ReentryResults gReentry;
pelzo_ctx* gReentryCtx = nullptr;

extern "C" void callBackIntoSdk(pelzo_src* src) {
    gReentry.created = pelzo_ctx_create();
    gReentry.init = pelzo_init();
    gReentry.deinit = pelzo_deinit();
    gReentry.priority = pelzo_ctx_set_priority(gReentryCtx, 2);
    pelzo_ctx_destroy(gReentryCtx);
    sdktest::recordOpen(src);
}

TEST_F(SdkTest, CallsFromACallbackAreRefusedNotDeadlocked) {
    gReentryCtx = pelzo_ctx_create();
    pelzo_src* src = pelzo_src_create();
    ASSERT_NE(src, nullptr);
    src->on_open = callBackIntoSdk;
    ASSERT_EQ(pelzo_src_open_url(src, toneFile().c_str()), 0);
    ASSERT_TRUE(Recorder::instance().waitKind(src, "open", 1));
    EXPECT_EQ(gReentry.created, nullptr);
    EXPECT_EQ(gReentry.init, 1);
    EXPECT_EQ(gReentry.deinit, 1);
    EXPECT_EQ(gReentry.priority, 1);
    // The refused destroy left the context alive.
    EXPECT_EQ(pelzo_ctx_set_priority(gReentryCtx, 2), 0);
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(gReentryCtx);
}

// --- the command port --------------------------------------------------------------------

int connectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

// Restarts the SDK and finds its command port as any local program could: the one
// loopback port this process listens on that it did not before. 0 when not found.
uint16_t restartAndFindCommandPort() {
    if (pelzo_deinit() != 0)
        return 0;
    const std::set<uint16_t> before = sdktest::loopbackListenPorts();
    if (pelzo_init() != 0)
        return 0;
    std::set<uint16_t> ports = sdktest::loopbackListenPorts();
    for (uint16_t p : before)
        ports.erase(p);
    return ports.size() == 1 ? *ports.begin() : 0;
}

int openDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

// True once the peer closed `fd` (a read would return end of file).
bool closedByPeer(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    return ::poll(&p, 1, 0) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
}

// Another local program may find the command port and write to it. Whatever it sends
// (here: the address of a live handle, where a command would be expected), nothing runs
// and it is disconnected; the SDK's own callers are not disturbed.
TEST_F(SdkTest, StrangerOnTheCommandPortIsDisconnected) {
    const uint16_t port = restartAndFindCommandPort();
    ASSERT_NE(port, 0) << "the command server's port";

    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    recordAll(ctx);

    const std::vector<std::string> attempts = {
        std::string(64, '\0'),
        std::string(reinterpret_cast<const char*>(&ctx), sizeof ctx) + std::string(200, 'x'),
        std::string(1024, '\x7f'),
    };
    // One that says nothing at all must not hold anything up either.
    const int silent = connectTo(port);
    ASSERT_GE(silent, 0);
    for (const std::string& bytes : attempts) {
        const int fd = connectTo(port);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        char c = 0;
        EXPECT_EQ(::recv(fd, &c, 1, 0), 0) << "the server closes the connection";
        ::close(fd);
        EXPECT_EQ(pelzo_ctx_set_priority(ctx, 6), 0);
    }
    ::close(silent);
    EXPECT_TRUE(Recorder::instance().events().empty());
    pelzo_ctx_destroy(ctx);
}

// A thousand local connections that never send the secret: the command server keeps a
// few of them and closes the rest on arrival, so the process keeps its descriptors, and
// the SDK's own calls go on meanwhile and afterwards.
TEST_F(SdkTest, IdleConnectionsOnTheCommandPortDoNotPileUp) {
    constexpr int kIdle = 1000;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 3 * kIdle) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 3 * kIdle);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 3 * kIdle) {
        GTEST_SKIP() << "needs " << 3 * kIdle << " descriptors, the limit is " << limit.rlim_max;
    }
    const uint16_t port = restartAndFindCommandPort();
    ASSERT_NE(port, 0) << "the command server's port";
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    const int before = openDescriptors();

    // In batches smaller than the listen backlog, each followed by a call: the worker
    // accepts a batch before it runs the call, so the backlog never overflows (the
    // kernel would then hold connections back for a second at a time).
    std::vector<int> idle;
    for (int i = 0; i < kIdle; ++i) {
        const int fd = connectTo(port);
        ASSERT_GE(fd, 0) << "connection " << i;
        idle.push_back(fd);
        if (i % 8 == 7) {
            ASSERT_EQ(pelzo_ctx_set_priority(ctx, 3), 0) << "while connection " << i << " waits";
        }
    }
    auto closedOnes = [&] {
        return static_cast<int>(std::count_if(idle.begin(), idle.end(), closedByPeer));
    };
    // Every connection the server does not keep is closed once it has been accepted.
    constexpr int kKeptAtMost = 32;
    for (int guard = 0; guard < 2000 && closedOnes() < kIdle - kKeptAtMost; ++guard)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(closedOnes(), kIdle - kKeptAtMost);
    // Our kIdle ends, the server's ends of the few it keeps, nothing else.
    EXPECT_LE(openDescriptors() - before, kIdle + kKeptAtMost);
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 4), 0);

    for (int fd : idle)
        ::close(fd);
    for (int guard = 0; guard < 2000 && openDescriptors() > before; ++guard)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(openDescriptors(), before) << "the server let go of the connections it kept";
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 5), 0);
    pelzo_ctx_destroy(ctx);
}

// --- special files -----------------------------------------------------------------------

// A FIFO without a writer would hold the worker in open(2) for good, and with it every
// waited call and pelzo_deinit. The open fails at once instead and on_error follows; the
// worker keeps serving calls.
TEST_F(SdkTest, OpeningAFifoFailsWithoutBlockingTheWorker) {
    audio_fixtures::TempDir dir;
    const std::string fifo = dir.file("stream.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    pelzo_ctx* ctx = pelzo_ctx_create();
    pelzo_src* src = pelzo_src_create();
    ASSERT_NE(ctx, nullptr);
    ASSERT_NE(src, nullptr);
    recordAll(src);

    // Should the open block, a writer is let in after a while, so the test fails
    // instead of hanging.
    std::atomic<bool> returned{false};
    std::atomic<bool> rescued{false};
    std::thread rescue([&] {
        for (int guard = 0; guard < 2000 && !returned.load(); ++guard)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (!returned.load()) {
            rescued.store(true);
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const int result = pelzo_src_open_url(src, fifo.c_str());
    returned.store(true);
    rescue.join();

    EXPECT_FALSE(rescued.load()) << "the open waited for a writer";
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(Recorder::instance().waitKind(src, "error", 1));
    EXPECT_EQ(Recorder::instance().events().back().text, "打开失败");
    EXPECT_EQ(Recorder::instance().countKind(src, "open"), 0);
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 2), 0);
    // The same source still opens a real file afterwards.
    EXPECT_EQ(pelzo_src_open_url(src, toneFile().c_str()), 0);
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
}

// --- streaming ---------------------------------------------------------------------------

// Every datagram a bare terminal received, checked as audio packets: their count and
// the jitter values each carries.
struct AudioSeen {
    int packets = 0;
    int frames = 0;
    int other = 0;
    std::set<std::pair<int, int>> jitters;
};

AudioSeen audioIn(const std::vector<std::string>& datagrams) {
    AudioSeen seen;
    for (const std::string& d : datagrams) {
        simpelzo::Packet p;
        simpelzo::AudioPayload audio;
        if (!simpelzo::unframe(reinterpret_cast<const uint8_t*>(d.data()), d.size(), p) ||
            p.type() != simpelzo::kAudio || !simpelzo::decodeAudio(p.payload, audio)) {
            ++seen.other;
            continue;
        }
        ++seen.packets;
        seen.frames += static_cast<int>(audio.frames.size());
        seen.jitters.insert({audio.jitter1, audio.jitter2});
    }
    return seen;
}

// A file played through the C interface reaches a simulated terminal, which logs the
// context in with the default password (added with none), and a bare one; every packet
// carries the jitter values set before.
TEST_F(SdkTest, FileStreamsToTerminalsWithItsJitterValues) {
    const std::string simAddress = nextAddress();
    const std::string bareAddress = nextAddress();
    simpelzo::TerminalConfig config;
    config.address = simAddress;
    simpelzo::Terminal sim(config);
    std::string error;
    ASSERT_TRUE(sim.open(error)) << error;
    simpelzo::TerminalRunner runner({&sim});
    UdpListener bare(bareAddress);
    ASSERT_TRUE(bare.ok());

    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    recordAll(ctx);
    ASSERT_EQ(pelzo_ctx_set_jitter_size(ctx, 3, 10), 0);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, simAddress.c_str(), nullptr), 0);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, bareAddress.c_str(), nullptr), 0);
    pelzo_src* src = pelzo_src_create();
    ASSERT_NE(src, nullptr);
    recordAll(src);
    pelzo_ctx_connect_src(ctx, src);
    ASSERT_EQ(pelzo_src_open_url(src, toneFile().c_str()), 0);

    ASSERT_TRUE(Recorder::instance().waitKind(src, "end", 1));
    const int frames = Recorder::instance().countKind(src, "frame");
    EXPECT_GE(frames, 15);
    // The worker sent each frame's packet before it reported the frame.
    const AudioSeen seen = audioIn(bare.drain());
    EXPECT_EQ(seen.packets, frames);
    EXPECT_EQ(seen.frames, frames);
    EXPECT_EQ(seen.jitters, (std::set<std::pair<int, int>>{{3, 10}}));

    ASSERT_TRUE(Recorder::instance().waitFor([&](const std::vector<Event>& events) {
        for (const Event& e : events)
            if (e.handle == ctx && e.kind == "state" && e.address == simAddress)
                return true;
        return false;
    }));
    for (const Event& e : Recorder::instance().events()) {
        if (e.kind == "state" && e.address == simAddress) {
            EXPECT_EQ(e.value, 0) << e.address << " " << e.text;
        }
    }
    ASSERT_TRUE(sim.waitFor(
        [&](const simpelzo::TerminalState& s) { return s.loggedIn && s.audioPackets == frames; }));
    EXPECT_EQ(sim.state().lastAudio.jitter1, 3);
    EXPECT_EQ(sim.state().lastAudio.jitter2, 10);
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
}

// Frames released by `src` from now until it reported `more` of them, and the audio
// packets that reached `bare` meanwhile.
int packetsDuring(pelzo_src* src, int more, UdpListener& bare) {
    bare.drain();
    const int start = Recorder::instance().countKind(src, "frame");
    EXPECT_TRUE(Recorder::instance().waitKind(src, "frame", start + more));
    return audioIn(bare.drain()).packets;
}

TEST_F(SdkTest, SourceConnectionsFollowDestroyAndInvalidSources) {
    const std::string address = nextAddress();
    UdpListener bare(address);
    ASSERT_TRUE(bare.ok());
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, address.c_str(), nullptr), 0);

    pelzo_src* first = pelzo_src_create();
    recordAll(first);
    pelzo_src_set_loop(first, true);
    pelzo_ctx_connect_src(ctx, first);
    ASSERT_EQ(pelzo_src_open_url(first, toneFile().c_str()), 0);
    EXPECT_GE(packetsDuring(first, 5, bare), 5);

    // Connecting an unknown source ends the old connection: the first source plays on
    // without reaching the context.
    pelzo_ctx_connect_src(ctx, &gForeignSrc);
    EXPECT_EQ(packetsDuring(first, 5, bare), 0);
    pelzo_ctx_connect_src(ctx, first);
    EXPECT_GE(packetsDuring(first, 5, bare), 5);

    // Destroyed while connected: the context forgets it and takes another.
    pelzo_src_destroy(first);
    EXPECT_EQ(pelzo_src_open_url(first, toneFile().c_str()), 1);
    pelzo_src* second = pelzo_src_create();
    recordAll(second);
    pelzo_src_set_loop(second, true);
    pelzo_ctx_connect_src(ctx, second);
    ASSERT_EQ(pelzo_src_open_url(second, toneFile().c_str()), 0);
    EXPECT_GE(packetsDuring(second, 5, bare), 5);

    pelzo_ctx_disconnect_src(ctx);
    EXPECT_EQ(packetsDuring(second, 5, bare), 0);
    pelzo_src_destroy(second);
    pelzo_ctx_destroy(ctx);
}

// Frames handed over by the caller: posted calls keep their order and all arrive.
TEST_F(SdkTest, PostedFramesAllArriveInOrder) {
    const std::string address = nextAddress();
    UdpListener bare(address);
    ASSERT_TRUE(bare.ok());
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, address.c_str(), nullptr), 0);
    std::string frame(640, '\0');
    constexpr int kFrames = 40;
    for (int i = 0; i < kFrames; ++i) {
        frame[0] = static_cast<char>(i);
        pelzo_ctx_play_frame(ctx, frame.data(), static_cast<int>(frame.size()));
    }
    // A waited call returns after every earlier posted one ran.
    EXPECT_EQ(pelzo_ctx_set_priority(ctx, 3), 0);
    const AudioSeen seen = audioIn(bare.drain());
    EXPECT_EQ(seen.packets, kFrames);
    pelzo_ctx_destroy(ctx);
}

} // namespace
