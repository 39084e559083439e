#include "vo_pelzo_sdk_core/pelzo-src.h"

#include <lumo/clock.h>
#include <lumo/logger.h>

pelzo_src_imp::pelzo_src_imp(ContextPlayer player) : player_(std::move(player)) {}

pelzo_src_imp::~pelzo_src_imp() {
    stopPacing();
}

int pelzo_src_imp::openUrl(const std::string& url) {
    lumo::EventLoopImpl* loop = lumo::EventLoopImpl::current();
    loop->assertInLoopThread();
    reader_.reset();
    reader_ = std::make_unique<FileAudioReader>(url, kOutputRate);
    if (reader_->failed()) {
        LUMO_LOG_ERROR("%s: %s", url.c_str(), kOpenFailedText);
        loop->singleShot(1, this, [this] {
            if (record.on_error) {
                record.on_error(&record, kOpenFailedText);
            }
        });
        return 1;
    }
    // A new input starts over, so its first frame is announced with on_start again.
    framesSinceStart_ = 0;
    loop->singleShot(1, this, [this] {
        if (record.on_open) {
            record.on_open(&record);
        }
    });
    if (!pacingTimer_) {
        // The schedule of an earlier, finished playback is stale: catching up on it
        // would burst the first frames of the new input out at once.
        pacer_.restart();
        startPacing(loop, lumo::loopClockUs() + kPacingIntervalMs * 1000);
    }
    return 0;
}

void pelzo_src_imp::destroy() {
    reader_.reset();
    stopPacing();
    lumo::DeleteLater()(this);
}

void pelzo_src_imp::startPacing(lumo::EventLoopImpl* loop, int64_t firstUs) {
    pacingTimer_ = loop->startTimerAt(firstUs, kPacingIntervalMs * 1000);
    pacingTimer_->timeout.connect(this, [this] { pacingStep(); });
}

void pelzo_src_imp::stopPacing() {
    if (pacingTimer_) {
        pacingTimer_->stop();
        pacingTimer_.reset();
    }
}

void pelzo_src_imp::pacingStep() {
    const int64_t now = lumo::loopClockUs();
    pacer_.step(now, [this] { return produceFrame(); });
    if (!pacingTimer_) {
        return;
    }
    // The timer ticks exactly when the next frame is due. A new schedule (first frame,
    // backlog skipped, clock stepped) moves the slots off the timer's ticks: a tick just
    // before a slot would hold its frame back a whole tick, one just after it would make
    // every frame late; so the timer is restarted on the slot. Inside its own handler the
    // timer still shows the deadline that fired.
    int64_t nextTick = pacingTimer_->deadlineUs();
    if (nextTick <= now) {
        nextTick += pacingTimer_->intervalUs();
    }
    if (nextTick != pacer_.nextFrameTime()) {
        pacingTimer_->stop();
        startPacing(lumo::EventLoopImpl::current(), pacer_.nextFrameTime());
    }
}

bool pelzo_src_imp::produceFrame() {
    if (!reader_) {
        return true;
    }
    AudioFrame frame = reader_->read(false);
    if (frame.empty()) {
        if (record.on_end) {
            record.on_end(&record);
        }
        if (!loop_) {
            stopPacing();
            return false;
        }
        framesSinceStart_ = 0;
        // The callback may have dropped the reader (destroy) meanwhile.
        if (!reader_) {
            return true;
        }
        frame = reader_->read(true);
        if (frame.empty()) {
            return true;
        }
    }
    release(frame);
    return true;
}

void pelzo_src_imp::release(const AudioFrame& frame) {
    if (++framesSinceStart_ == 1 && record.on_start) {
        record.on_start(&record);
    }
    frameReady.emit(frame.data, frame.size);
    if (record.on_frame) {
        record.on_frame(&record, frame.data, frame.size);
    }
    if (record.context && player_) {
        player_(record.context, frame.data, frame.size);
    }
}
