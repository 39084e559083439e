// Real-time release schedule of a source's 20 ms frames.
#pragma once

#include <cstdint>
#include <functional>

// Decides at each timer tick how many frames are due. Frames that fall behind are
// caught up one by one; a backlog beyond kMaxLagMs is dropped instead of burst out.
// A schedule that lies ahead of the clock by more than a couple of frames can only
// come from the clock stepping back, so it restarts at the current time rather than
// waiting in silence for the clock to catch up.
//
// Times are in any unit the caller picks, given as units per millisecond (1 for
// milliseconds, 1000 for microseconds); the limits below are scaled to it.
class FramePacer {
public:
    static constexpr int64_t kFrameMs = 20;
    static constexpr int64_t kMaxLagMs = 200;
    // Between ticks the schedule is at most one frame ahead of the clock.
    static constexpr int64_t kMaxLeadMs = 2 * kFrameMs;
    // A frame released more than this after its slot counts as late.
    static constexpr int64_t kLateMs = 2;

    explicit FramePacer(int64_t unitsPerMs = 1) : unit_(unitsPerMs) {}

    // Releases the frames due at `now`, calling `produce` once per frame; `produce`
    // returns false to stop the tick (end of playback). Returns the frames produced.
    int step(int64_t now, const std::function<bool()>& produce);

    int64_t nextFrameTime() const { return nextFrameTime_; }
    // Forgets the schedule; the next step starts a new one at its current time.
    void restart() { nextFrameTime_ = 0; }

    // Frames released more than kLateMs after their slot.
    uint64_t lateFrames() const { return late_; }
    // Frame slots dropped by the backlog rule (more than kMaxLagMs behind).
    uint64_t skippedFrames() const { return skipped_; }

private:
    int64_t unit_;
    int64_t nextFrameTime_ = 0;
    uint64_t late_ = 0;
    uint64_t skipped_ = 0;
};
