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

} // namespace
