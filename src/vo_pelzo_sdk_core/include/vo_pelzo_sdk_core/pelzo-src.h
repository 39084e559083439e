// Audio file sources: decode a file and release its 20 ms frames in real time on the
// loop thread, to the public record's callbacks and to connected contexts.
#pragma once

#include "pelzo/pelzo_src.h"
#include "vo_pelzo_sdk_core/audio_reader.h"
#include "vo_pelzo_sdk_core/frame_pacer.h"

#include <lumo/eventloop.h>
#include <lumo/object.h>

#include <functional>
#include <memory>
#include <string>

// The part of a source that contexts and the C interface see: the public record (whose
// address is the source handle) and the frame signal.
class abstract_pelzo_src : public lumo::Object {
public:
    abstract_pelzo_src() = default;

    pelzo_src* handle() { return &record; }

    // Every released frame: PCM bytes and their count.
    lumo::Signal<const void*, int> frameReady;

protected:
    pelzo_src record{};
};

class pelzo_src_imp : public abstract_pelzo_src {
public:
    // Delivers a frame to the context named in the public record; the C interface
    // passes one that checks the handle first.
    using ContextPlayer = std::function<void(pelzo_ctx* context, const char* pcm, int size)>;

    static constexpr int kOutputRate = 48000;
    static constexpr int kPacingIntervalMs = 20;
    static constexpr const char* kOpenFailedText = "打开失败";

    explicit pelzo_src_imp(ContextPlayer player = {});
    ~pelzo_src_imp() override;

    // Replaces the reader with one for `url`: 0 when it opened (pacing starts), 1 when
    // not (on_error follows). Loop thread only.
    int openUrl(const std::string& url);
    // Takes effect at the next end of input.
    void setLoop(bool loop) { loop_ = loop; }
    // Drops the reader and hands the source to deferred deletion. Loop thread only.
    // frameReady connections end with the object; the caller, which knows the contexts,
    // makes those connected to this source forget it.
    void destroy();

    // One tick of the pacing timer: releases the frames due now.
    void pacingStep();

    bool loop() const { return loop_; }
    bool pacing() const { return pacingTimer_ != nullptr; }
    int framesSinceStart() const { return framesSinceStart_; }
    // When the next frame is due, in ms of the loop clock (lumo::loopClockUs() / 1000).
    int64_t nextFrameTime() const { return pacer_.nextFrameTime() / 1000; }
    // Frames released more than 2 ms after their slot, and slots skipped by the backlog
    // rule, since the source was created.
    uint64_t lateFrames() const { return pacer_.lateFrames(); }
    uint64_t skippedFrames() const { return pacer_.skippedFrames(); }
    const AudioReader* reader() const { return reader_.get(); }

private:
    // Releases one frame; false when playback ended without loop.
    bool produceFrame();
    void release(const AudioFrame& frame);
    // A repeating 20 ms timer whose first tick is at `firstUs` of the loop clock.
    void startPacing(lumo::EventLoopImpl* loop, int64_t firstUs);
    void stopPacing();

    ContextPlayer player_;
    std::unique_ptr<AudioReader> reader_;
    std::shared_ptr<lumo::Timer> pacingTimer_;
    int framesSinceStart_ = 0;
    // In microseconds of the loop clock, so frames leave when due, not on the next
    // millisecond.
    FramePacer pacer_{1000};
    bool loop_ = false;
};
