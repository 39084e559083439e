#include "vo_pelzo_sdk_core/frame_pacer.h"

int FramePacer::step(int64_t now, const std::function<bool()>& produce) {
    if (now > nextFrameTime_ + kMaxLagMs || nextFrameTime_ > now + kMaxLeadMs) {
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
        nextFrameTime_ += kFrameMs;
    } while (now >= nextFrameTime_);
    return produced;
}
