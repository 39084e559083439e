// pelzo_src_imp: file sources on a lumo loop driven by a fake clock, one pass per step.
#include "audio_fixtures.h"
#include "fake_loop.h"

#include "vo_pelzo_sdk_core/pelzo-src.h"

#include <lumo/clock.h>
#include <lumo/eventloop.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

using namespace audio_fixtures;

namespace {

constexpr int64_t kStart = 1'700'000'000'000;

// What the callbacks of the public record saw, in order: "open", "start", "f", "end",
// "error:<text>".
std::vector<std::string>* g_events = nullptr;

void record(const std::string& e) {
    if (g_events)
        g_events->push_back(e);
}

class PelzoSrcTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        g_events = &events;
        src = new pelzo_src_imp([this](pelzo_ctx* ctx, const char*, int size) {
            contextFrames.push_back({ctx, size});
        });
        pelzo_src* h = src->handle();
        h->on_frame = [](pelzo_src*, const char*, int size) { record(size == 1920 ? "f" : "bad"); };
        h->on_error = [](pelzo_src*, const char* text) { record(std::string("error:") + text); };
        h->on_open = [](pelzo_src*) { record("open"); };
        h->on_start = [](pelzo_src*) { record("start"); };
        h->on_end = [](pelzo_src*) { record("end"); };
    }

    void TearDown() override {
        if (src)
            src->destroy();
        g_events = nullptr;
    }

    // Moves the clock on by `ms`, then runs one loop pass.
    void pass(int64_t ms = 20) { loop.pass(ms); }

    int countFrames() const {
        int n = 0;
        for (const auto& e : events)
            n += e == "f";
        return n;
    }

    std::string wav(double seconds, int rate = 48000, int channels = 1) {
        std::string path = dir.file("in" + std::to_string(++files) + ".wav");
        EXPECT_TRUE(writeSineWav(path, rate, channels, seconds, 440));
        return path;
    }

    TempDir dir;
    FakeLoop loop{kStart};
    pelzo_src_imp* src = nullptr;
    std::vector<std::string> events;
    std::vector<std::pair<pelzo_ctx*, int>> contextFrames;
    int files = 0;
};

// One second at 44.1 kHz stereo: one 1920-byte frame per 20 ms tick, at most 50 of
// them, then a single on_end and silence.
TEST_F(PelzoSrcTest, PlaysFileInRealTimeThenEnds) {
    ASSERT_EQ(src->openUrl(wav(1.0, 44100, 2)), 0);
    EXPECT_TRUE(events.empty()); // callbacks come from the loop, not from inside openUrl
    int frames = 0;
    for (int i = 0; i < 70; ++i) {
        pass();
        int now = countFrames();
        EXPECT_LE(now - frames, 1) << "burst at tick " << i;
        frames = now;
    }
    EXPECT_GE(frames, 49);
    EXPECT_LE(frames, 50);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], "open");
    EXPECT_EQ(events[1], "start");
    EXPECT_EQ(events.back(), "end");
    EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
    EXPECT_FALSE(src->pacing());
}

TEST_F(PelzoSrcTest, LoopRestartsWithEndThenStart) {
    src->setLoop(true);
    ASSERT_EQ(src->openUrl(wav(0.1)), 0); // exactly 5 frames
    for (int i = 0; i < 12; ++i)
        pass();
    // The restart plays the first frame in the tick that found the end: no gap.
    std::vector<std::string> expect = {"open", "start", "f",     "f",     "f", "f",
                                       "f",    "end",   "start", "f",     "f", "f",
                                       "f",    "f",     "end",   "start", "f", "f"};
    EXPECT_EQ(events, expect);
    EXPECT_TRUE(src->pacing());
    // Clearing the flag stops playback at the next end.
    src->setLoop(false);
    for (int i = 0; i < 10; ++i)
        pass();
    EXPECT_EQ(countFrames(), 15);
    EXPECT_EQ(events.back(), "end");
    EXPECT_FALSE(src->pacing());
}

TEST_F(PelzoSrcTest, MissingFileReportsErrorFromTheLoop) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::string missing = dir.file("missing.mp3");
    EXPECT_EQ(src->openUrl(missing), 1);
    std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find(missing + ": 打开失败"), std::string::npos);
    EXPECT_NE(out.find("[error]"), std::string::npos);
    EXPECT_TRUE(events.empty());
    pass(1);
    std::vector<std::string> expect = {"error:打开失败"};
    EXPECT_EQ(events, expect);
    for (int i = 0; i < 5; ++i)
        pass();
    EXPECT_EQ(events, expect);
    EXPECT_FALSE(src->pacing());
}

// The loop thread stalls: 150 ms late releases the frames due meanwhile at once, 500 ms
// late releases one frame and resumes from the current time.
TEST_F(PelzoSrcTest, CatchesUpShortStallsSkipsLongOnes) {
    ASSERT_EQ(src->openUrl(wav(3.0)), 0);
    for (int i = 0; i < 5; ++i)
        pass();
    int before = countFrames();
    pass(20 + 150);
    int released = countFrames() - before;
    EXPECT_GE(released, 7);
    EXPECT_LE(released, 9);
    pass();
    before = countFrames();
    pass(20 + 500);
    EXPECT_EQ(countFrames() - before, 1);
    EXPECT_EQ(src->nextFrameTime(), FakeLoop::now() + 20);
    before = countFrames();
    for (int i = 0; i < 5; ++i)
        pass();
    EXPECT_EQ(countFrames() - before, 5);
}

// The loop runs a pass every 3 ms, so a step may run up to 2 ms after its tick's deadline,
// and the first one anchors the schedule 3 ms late. Every frame must still leave within
// 2 ms of its slot: a tick landing just before a frame is due would leave every frame one
// tick (almost 20 ms) late, and re-arming the timer from the late step would drift.
TEST_F(PelzoSrcTest, PacingStaysOnTheFrameGridWhenStepsRunLate) {
    ASSERT_EQ(src->openUrl(wav(2.0)), 0);
    pass(23);
    ASSERT_EQ(countFrames(), 1);
    const int64_t grid = FakeLoop::now();
    std::vector<int64_t> lateness;
    for (int ms = 0; ms < 900; ms += 3) {
        const int before = countFrames();
        pass(3);
        for (int k = before; k < countFrames(); ++k)
            lateness.push_back(FakeLoop::now() - (grid + 20 * k));
    }
    ASSERT_GE(lateness.size(), 40u);
    for (size_t i = 0; i < lateness.size(); ++i) {
        EXPECT_GE(lateness[i], 0) << "frame " << i + 1;
        EXPECT_LE(lateness[i], 2) << "frame " << i + 1;
    }
}

std::atomic<int64_t> gLoopUs{0};
int64_t fakeLoopUs() {
    return gLoopUs.load();
}

// The loop clock in microseconds, for as long as the guard lives.
struct MicrosecondLoopClock {
    explicit MicrosecondLoopClock(int64_t start) {
        gLoopUs = start;
        lumo::setLoopClockSource(&fakeLoopUs);
    }
    ~MicrosecondLoopClock() { lumo::setLoopClockSource(nullptr); }
    void pass(lumo::EventLoopImpl* loop, int64_t us) {
        gLoopUs += us;
        loop->processOnce();
    }
};

// On the loop's clock a frame leaves at its slot to the microsecond: the loop waits
// exactly until the next frame is due, a pass one microsecond earlier releases nothing,
// and a late pass does not move the slots after it. Late frames (over 2 ms) are counted.
TEST_F(PelzoSrcTest, FramesLeaveWhenDueNotOnTheNextMillisecond) {
    MicrosecondLoopClock clock(7'000'000'300);
    lumo::EventLoopImpl* lp = lumo::EventLoopImpl::current();
    ASSERT_EQ(src->openUrl(wav(1.0)), 0);
    clock.pass(lp, 1000); // on_open
    clock.pass(lp, 19'000);
    ASSERT_EQ(countFrames(), 1);
    EXPECT_EQ(lp->lastPollTimeoutUs(), 20'000);
    clock.pass(lp, 19'999);
    EXPECT_EQ(countFrames(), 1);
    EXPECT_EQ(lp->lastPollTimeoutUs(), 1);
    clock.pass(lp, 1);
    EXPECT_EQ(countFrames(), 2);
    clock.pass(lp, 20'000 + 700); // 0.7 ms late
    EXPECT_EQ(countFrames(), 3);
    EXPECT_EQ(lp->lastPollTimeoutUs(), 19'300);
    EXPECT_EQ(src->lateFrames(), 0u);
    clock.pass(lp, 19'300 + 2'500); // 2.5 ms late
    EXPECT_EQ(countFrames(), 4);
    EXPECT_EQ(src->lateFrames(), 1u);
    EXPECT_EQ(src->skippedFrames(), 0u);
    EXPECT_EQ(lp->lastPollTimeoutUs(), 17'500);
}

// The wall clock steps back an hour (or a little): frames keep coming one per tick with
// no silent stretch and no burst.
TEST_F(PelzoSrcTest, BackwardClockStepKeepsPlaying) {
    ASSERT_EQ(src->openUrl(wav(3.0)), 0);
    for (int i = 0; i < 5; ++i)
        pass();
    for (int64_t step : {int64_t{3'600'000}, int64_t{150}}) {
        int before = countFrames();
        pass(20 - step);
        for (int i = 0; i < 10; ++i)
            pass();
        int released = countFrames() - before;
        EXPECT_GE(released, 10) << step;
        EXPECT_LE(released, 11) << step;
    }
}

// Every frame goes to frameReady listeners, on_frame and the context in the record;
// without any of them the source still runs its clock.
TEST_F(PelzoSrcTest, FramesReachSignalCallbackAndContext) {
    lumo::Object listener;
    std::vector<int> signalled;
    src->frameReady.connect(
        &listener, [&](const void* data, int size) { signalled.push_back(data ? size : -1); });
    auto* fakeCtx = reinterpret_cast<pelzo_ctx*>(0x1000);
    ASSERT_EQ(src->openUrl(wav(0.2)), 0);
    pass();
    src->handle()->context = fakeCtx;
    for (int i = 0; i < 12; ++i)
        pass();
    EXPECT_EQ(signalled, std::vector<int>(10, 1920));
    EXPECT_EQ(countFrames(), 10);
    ASSERT_EQ(contextFrames.size(), 9u);
    EXPECT_EQ(contextFrames[0].first, fakeCtx);
    EXPECT_EQ(contextFrames[0].second, 1920);
}

// Opening another file after the end plays it from its own start.
TEST_F(PelzoSrcTest, ReopenAfterEndStartsAgain) {
    ASSERT_EQ(src->openUrl(wav(0.06)), 0);
    for (int i = 0; i < 6; ++i)
        pass();
    EXPECT_FALSE(src->pacing());
    ASSERT_EQ(src->openUrl(wav(0.04)), 0);
    for (int i = 0; i < 6; ++i) {
        int before = countFrames();
        pass();
        EXPECT_LE(countFrames() - before, 1) << "burst at tick " << i;
    }
    std::vector<std::string> expect = {"open", "start", "f", "f", "f",  "end",
                                       "open", "start", "f", "f", "end"};
    EXPECT_EQ(events, expect);
}

// A failed open after a good one leaves the timer running; the failed reader counts as
// end of input, so playback stops at the next tick.
TEST_F(PelzoSrcTest, FailedReopenEndsPlayback) {
    ASSERT_EQ(src->openUrl(wav(1.0)), 0);
    pass();
    pass();
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(src->openUrl(dir.file("gone.wav")), 1);
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    pass();
    pass();
    std::vector<std::string> expect = {"open", "start", "f", "f", "error:打开失败", "end"};
    EXPECT_EQ(events, expect);
    EXPECT_FALSE(src->pacing());
}

// After destroy no callback runs, even though the timer had been armed.
TEST_F(PelzoSrcTest, DestroyEndsPacing) {
    ASSERT_EQ(src->openUrl(wav(1.0)), 0);
    pass();
    pass();
    size_t seen = events.size();
    src->destroy();
    src = nullptr;
    for (int i = 0; i < 5; ++i)
        pass();
    EXPECT_EQ(events.size(), seen);
}

} // namespace
