// A lumo loop on the test thread driven by a settable clock: each pass fires the timers
// that are due at the fake time and never waits in the poller.
#pragma once

#include <lumo/clock.h>
#include <lumo/eventloop.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace audio_fixtures {

class FakeLoop {
public:
    explicit FakeLoop(int64_t start) {
        now_ = start;
        lumo::setTimeSource(&FakeLoop::now);
        loop_ = lumo::EventLoopImpl::current();
        loop_->setPoller(std::make_unique<NullPoller>());
    }
    ~FakeLoop() {
        loop_->processOnce(); // deferred deletions of the test's objects
        lumo::setTimeSource(nullptr);
    }
    FakeLoop(const FakeLoop&) = delete;
    FakeLoop& operator=(const FakeLoop&) = delete;

    static int64_t now() { return now_.load(); }
    // Moves the clock by `ms` (backwards too), then runs one pass.
    void pass(int64_t ms) {
        now_ += ms;
        loop_->processOnce();
    }
    void processOnce() { loop_->processOnce(); }

private:
    // Sockets stay registered but are never polled; the tests only send.
    class NullPoller : public lumo::IPoller {
    public:
        void poll(int) override {}
        bool doRegister(lumo::IPollable*) override { return true; }
        bool doUnregister(lumo::IPollable*) override { return true; }
    };

    static inline std::atomic<int64_t> now_{0};
    lumo::EventLoopImpl* loop_;
};

} // namespace audio_fixtures
