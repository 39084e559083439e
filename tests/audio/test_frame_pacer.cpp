// FramePacer: how many frames each 20 ms tick releases as the clock runs, stalls and steps.
#include "vo_pelzo_sdk_core/frame_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int64_t T = 1'700'000'000'000; // a realistic wall-clock start
constexpr int64_t kHour = 3'600'000;

struct PacerCase {
    const char* name;
    std::vector<int64_t> ticks; // clock value at each timer tick
    std::vector<int> released;  // frames released by each tick
    int64_t nextAfter;          // schedule after the last tick
};

class FramePacerTicks : public ::testing::TestWithParam<PacerCase> {};

TEST_P(FramePacerTicks, ReleasesDueFrames) {
    const PacerCase& c = GetParam();
    FramePacer pacer;
    std::vector<int> released;
    for (int64_t now : c.ticks) {
        int produced = 0;
        int n = pacer.step(now, [&] { return ++produced, true; });
        EXPECT_EQ(n, produced);
        released.push_back(n);
    }
    EXPECT_EQ(released, c.released);
    EXPECT_EQ(pacer.nextFrameTime(), c.nextAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, FramePacerTicks,
    ::testing::Values(
        // The first tick starts the schedule at the current time.
        PacerCase{"steady", {T, T + 20, T + 40, T + 60}, {1, 1, 1, 1}, T + 80},
        // Ticks that come a little early wait; a late one catches up.
        PacerCase{"jitter", {T, T + 15, T + 21, T + 59}, {1, 0, 1, 1}, T + 60},
        // Loop blocked 150 ms: the frames due meanwhile go out at once.
        PacerCase{"late150", {T, T + 20, T + 40, T + 210}, {1, 1, 1, 8}, T + 220},
        // Blocked 500 ms: the backlog is skipped, one frame, schedule from now.
        PacerCase{"late500", {T, T + 20, T + 40, T + 560, T + 580}, {1, 1, 1, 1, 1}, T + 600},
        PacerCase{
            "forwardStep", {T, T + 20, T + kHour, T + kHour + 20}, {1, 1, 1, 1}, T + kHour + 40},
        // The clock steps back: playback goes on at once instead of pausing until the
        // clock has caught up with the old schedule.
        PacerCase{
            "backHour", {T, T + 20, T + 40 - kHour, T + 60 - kHour}, {1, 1, 1, 1}, T + 80 - kHour},
        PacerCase{"back100", {T, T + 20, T - 60, T - 40, T - 20}, {1, 1, 1, 1, 1}, T},
        // A step back smaller than a frame costs at most one tick.
        PacerCase{"back10", {T, T + 20, T + 30, T + 50, T + 70}, {1, 1, 0, 1, 1}, T + 80}),
    [](const ::testing::TestParamInfo<PacerCase>& i) { return i.param.name; });

// A producer that reports the end stops the catch-up at once and leaves the schedule at
// the frame that was not played.
TEST(FramePacer, EndOfPlaybackStopsTheTick) {
    FramePacer pacer;
    pacer.step(T, [] { return true; });
    int calls = 0;
    int n = pacer.step(T + 200, [&] { return ++calls < 3; });
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(pacer.nextFrameTime(), T + 60);
}

// A long run of ticks at irregular times never releases more frames than the time
// elapsed allows, and never falls behind by more than a frame.
TEST(FramePacer, LongRunKeepsRealTime) {
    FramePacer pacer;
    int total = 0;
    int64_t now = T;
    for (int i = 0; i < 5000; ++i) {
        now += 20 + (i % 7) - 3; // 17..23 ms apart
        total += pacer.step(now, [] { return true; });
        int64_t due = (now - (T + 17)) / 20 + 1;
        ASSERT_LE(total, due + 1);
        ASSERT_GE(total, due - 1);
    }
}

// Frames released more than 2 ms after their slot count as late; slots dropped by the
// backlog rule count as skipped. A new schedule and a backward step count as neither.
TEST(FramePacer, CountsLateAndSkippedFrames) {
    struct Tick {
        int64_t at;
        int released;
        uint64_t late, skipped; // totals after the tick
    };
    const Tick ticks[] = {
        {T, 1, 0, 0},                  // the schedule starts
        {T + 20, 1, 0, 0},             // on time
        {T + 42, 1, 0, 0},             // 2 ms: not yet late
        {T + 63, 1, 1, 0},             // 3 ms
        {T + 250, 9, 10, 0},           // slots 80..240 caught up, every one of them late
        {T + 1000, 1, 10, 37},         // 740 ms behind: slots 260..980 dropped
        {T + 1000 - kHour, 1, 10, 37}, // the clock stepped back: a new schedule
    };
    FramePacer pacer;
    for (const Tick& t : ticks) {
        EXPECT_EQ(pacer.step(t.at, [] { return true; }), t.released) << t.at - T;
        EXPECT_EQ(pacer.lateFrames(), t.late) << t.at - T;
        EXPECT_EQ(pacer.skippedFrames(), t.skipped) << t.at - T;
    }
}

// In microseconds the limits scale: a tick one microsecond early releases nothing, and
// the lag, lead and lateness limits are the same in time.
TEST(FramePacer, MicrosecondSchedule) {
    constexpr int64_t U = 1000; // units per ms
    constexpr int64_t S = 5'000'000'000;
    FramePacer pacer(U);
    EXPECT_EQ(pacer.step(S, [] { return true; }), 1);
    EXPECT_EQ(pacer.nextFrameTime(), S + 20 * U);
    EXPECT_EQ(pacer.step(S + 20 * U - 1, [] { return true; }), 0);
    EXPECT_EQ(pacer.step(S + 20 * U, [] { return true; }), 1);
    EXPECT_EQ(pacer.step(S + 40 * U + 2 * U + 1, [] { return true; }), 1);
    EXPECT_EQ(pacer.lateFrames(), 1u);
    EXPECT_EQ(pacer.step(S + 60 * U + 150 * U, [] { return true; }), 8);
    EXPECT_EQ(pacer.skippedFrames(), 0u);
    EXPECT_EQ(pacer.step(S + 800 * U, [] { return true; }), 1);
    EXPECT_EQ(pacer.skippedFrames(), uint64_t((800 - 220) / 20));
    EXPECT_EQ(pacer.nextFrameTime(), S + 820 * U);
}

} // namespace
