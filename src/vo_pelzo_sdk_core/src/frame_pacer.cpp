#include "vo_pelzo_sdk_core/frame_pacer.h"

int FramePacer::step(int64_t now, const std::function<bool()>& produce) {
    const int64_t frame = kFrameMs * unit_;
    if (now > nextFrameTime_ + kMaxLagMs * unit_) {
        // A schedule that never started has nothing to skip.
        if (nextFrameTime_ != 0)
            skipped_ += static_cast<uint64_t>((now - nextFrameTime_) / frame);
        nextFrameTime_ = now;
    } else if (nextFrameTime_ > now + kMaxLeadMs * unit_) {
        nextFrameTime_ = now;
    } else if (now < nextFrameTime_) {
        return 0;
    }
    int produced = 0;
    do {
        if (!produce()) {
            return produced;
        }
        ++produced;
        if (now - nextFrameTime_ > kLateMs * unit_)
            ++late_;
        nextFrameTime_ += frame;
    } while (now >= nextFrameTime_);
    return produced;
}
