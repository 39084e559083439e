// Real-time release schedule of a source's 20 ms frames.
#pragma once

#include <cstdint>
#include <functional>

// Decides at each timer tick how many frames are due. Frames that fall behind are
// caught up one by one; a backlog beyond kMaxLagMs is dropped instead of burst out.
// A schedule that lies ahead of the clock by more than a couple of frames can only
// come from the wall clock stepping back, so it restarts at the current time rather
// than waiting in silence for the clock to catch up.
class FramePacer {
public:
    static constexpr int64_t kFrameMs = 20;
    static constexpr int64_t kMaxLagMs = 200;
    // Between ticks the schedule is at most one frame ahead of the clock.
    static constexpr int64_t kMaxLeadMs = 2 * kFrameMs;

    // Releases the frames due at `now`, calling `produce` once per frame; `produce`
    // returns false to stop the tick (end of playback). Returns the frames produced.
    int step(int64_t now, const std::function<bool()>& produce);

    int64_t nextFrameTime() const { return nextFrameTime_; }
    // Forgets the schedule; the next step starts a new one at its current time.
    void restart() { nextFrameTime_ = 0; }

private:
    int64_t nextFrameTime_ = 0;
};
