#include "lumo/eventloop.h"

#include "lumo/logger.h"

#include "compat/compat.h"
#include "poller/poll_poller.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace lumo {

namespace {

std::atomic<bool> gSocketLayerStarted{false};

// Per-thread state. The loop is torn down before the pending set is drained, so
// objects it releases are deleted too.
struct ThreadState {
    std::unique_ptr<EventLoopImpl> loop;
    std::set<Object*> pending;

    ~ThreadState() {
        loop.reset();
        drain();
    }

    void drain() {
        while (!pending.empty()) {
            std::set<Object*> batch;
            batch.swap(pending);
            for (Object* object : batch)
                delete object;
        }
    }
};

ThreadState& threadState() {
    thread_local ThreadState state;
    return state;
}

} // namespace

void DeleteLater::operator()(Object* object) const {
    if (object)
        threadState().pending.insert(object);
}

namespace {
constexpr std::int64_t kUsPerMs = 1000;
// The longest poll wait, so quit requests and new work are noticed within a second.
constexpr std::int64_t kMaxWaitUs = 1000 * kUsPerMs;
} // namespace

// A timer armed on a loop. Held by the loop (in its deadline buckets) while armed.
// Times are microseconds of loopClockUs().
class TimerImpl final : public Timer {
public:
    TimerImpl(std::int64_t deadlineUs, std::int64_t intervalUs)
        : deadline_(deadlineUs), interval_(intervalUs) {}
    void stop() override {
        assertOnThread(owner_);
        stopped_ = true;
    }
    std::int64_t deadline() const override { return deadline_ / kUsPerMs; }
    std::int64_t interval() const override { return interval_ / kUsPerMs; }
    std::int64_t deadlineUs() const override { return deadline_; }
    std::int64_t intervalUs() const override { return interval_; }

    const std::thread::id owner_ = std::this_thread::get_id();
    std::int64_t deadline_;
    std::int64_t interval_;
    bool stopped_ = false;
};

EventLoopImpl* EventLoopImpl::current() {
    ThreadState& state = threadState();
    if (!state.loop)
        state.loop.reset(new EventLoopImpl());
    return state.loop.get();
}

EventLoopImpl::EventLoopImpl()
    : thread_(std::this_thread::get_id()), poller_(std::make_unique<PollPoller>()) {
    if (!gSocketLayerStarted.load()) {
        if (compat::socketLayerStartup())
            gSocketLayerStarted.store(true);
        else
            LUMO_LOG_ERROR("WSAStartup failed.");
    }
}

EventLoopImpl::~EventLoopImpl() {
    // Thread exit: release sockets and timers without running user handlers, whose
    // state may be gone by now. Objects still held elsewhere close their descriptors
    // when their last reference goes.
    auto pollables = std::move(pollables_);
    pollables.clear();
    auto timers = std::move(timers_);
    timers.clear();
}

void assertOnThread(std::thread::id owner) {
    if (std::this_thread::get_id() == owner)
        return;
    LUMO_LOG_ERROR("lumo: loop object used off its loop thread");
    // The log may go to a sink that never gets flushed; the reason must be seen.
    std::fputs("lumo: loop object used off its loop thread\n", stderr);
    std::abort();
}

int EventLoopImpl::exec() {
    assertInLoopThread();
    while (!quit_)
        processOnce();
    processOnce();
    // A later exec() runs again.
    quit_ = false;
    return 0;
}

void EventLoopImpl::quit() {
    assertInLoopThread();
    quit_ = true;
}

void EventLoopImpl::processOnce() {
    assertInLoopThread();
    const std::int64_t now = loopClockUs();
    int work = 0;
    const std::int64_t timeout = timerPass(now, work);
    work += int(pollables_.size());
    lastTimeoutUs_ = timeout;
    poller_->pollUs(timeout);

    if (!removals_.empty()) {
        std::set<Object*> removals;
        removals.swap(removals_);
        for (Object* object : removals) {
            auto it = pollables_.find(object);
            if (it == pollables_.end())
                continue;
            // Keep the pollable alive through closeFd: its handlers may drop references.
            auto pollable = it->second;
            pollable->closeFd();
            pollables_.erase(object);
        }
    }

    // The mark only records that the loop ran empty; it never tears anything down.
    if (work == 0)
        idle_ = true;

    // Deletions run on every pass, so objects released while the loop is empty are
    // not kept until work returns.
    ThreadState& state = threadState();
    if (!state.pending.empty()) {
        std::set<Object*> batch;
        batch.swap(state.pending);
        for (Object* object : batch)
            delete object;
    }
}

std::int64_t EventLoopImpl::timerPass(std::int64_t now, int& work) {
    if (timers_.empty() || now == 0)
        return kMaxWaitUs;

    // The clock stepped back (only a replaced one can): shift the whole schedule so the
    // earliest timer is due now and the others keep their distance to it.
    const std::int64_t earliest = timers_.begin()->first;
    if (now < lastNowUs_ && now < earliest) {
        const std::int64_t shift = earliest - now;
        std::map<std::int64_t, Bucket> shifted;
        for (auto& [deadline, bucket] : timers_) {
            for (auto& entry : bucket)
                entry.first->deadline_ -= shift;
            shifted.emplace(deadline - shift, std::move(bucket));
        }
        timers_.swap(shifted);
    }

    // Take the due buckets out first: handlers may arm timers that are due at once, and
    // those wait for the next pass instead of growing this one without end.
    std::vector<Bucket> due;
    while (!timers_.empty() && timers_.begin()->first <= now) {
        due.push_back(std::move(timers_.begin()->second));
        timers_.erase(timers_.begin());
    }
    for (Bucket& bucket : due) {
        ++work;
        for (auto& [raw, timer] : bucket) {
            if (timer->stopped_)
                continue;
            timer->timeout.emit();
            // Stopped by its handler: leaves the loop with this bucket.
            if (timer->stopped_ || timer->interval_ <= 0)
                continue;
            std::int64_t next = timer->deadline_ + timer->interval_;
            // A slow handler: no catching up, the next shot is one millisecond away.
            if (next < now)
                next = now + kUsPerMs;
            timer->deadline_ = next;
            timers_[next].emplace(raw, timer);
        }
        // The bucket (and with it the loop's reference to one-shot timers) goes here.
        bucket.clear();
    }

    // Handlers take time (a fan-out to many terminals takes milliseconds): the wait for
    // the next deadline counts from when they are done, or the loop wakes late by that.
    if (!due.empty())
        now = loopClockUs();
    std::int64_t timeout = kMaxWaitUs;
    if (!timers_.empty()) {
        ++work;
        const std::int64_t wait = timers_.begin()->first - now;
        timeout = wait < 0 ? 0 : std::min(wait, kMaxWaitUs);
    }
    lastNowUs_ = now;
    return timeout;
}

std::shared_ptr<Timer> EventLoopImpl::armAt(std::int64_t deadlineUs, std::int64_t intervalUs) {
    assertInLoopThread();
    std::shared_ptr<TimerImpl> timer(new TimerImpl(deadlineUs, intervalUs), DeleteLater());
    timers_[deadlineUs].emplace(timer.get(), timer);
    return timer;
}

std::shared_ptr<Timer> EventLoopImpl::startTimer(int intervalMs) {
    const std::int64_t interval = std::int64_t(intervalMs) * kUsPerMs;
    return armAt(loopClockUs() + interval, interval);
}

std::shared_ptr<Timer> EventLoopImpl::startTimerAt(std::int64_t deadlineUs,
                                                   std::int64_t intervalUs) {
    return armAt(deadlineUs, intervalUs < 0 ? 0 : intervalUs);
}

std::shared_ptr<Timer> EventLoopImpl::singleShot(int delayMs, Object* context,
                                                 std::function<void()> callback) {
    auto timer = armAt(loopClockUs() + std::int64_t(delayMs) * kUsPerMs, 0);
    timer->timeout.connect(context, [cb = std::move(callback)] { cb(); });
    return timer;
}

std::size_t EventLoopImpl::timerCount() const {
    std::size_t n = 0;
    for (const auto& entry : timers_)
        n += entry.second.size();
    return n;
}

void EventLoopImpl::attach(const std::shared_ptr<IPollable>& pollable, Signal<>& closed) {
    assertInLoopThread();
    if (!poller_->doRegister(pollable.get()))
        return;
    IPollable* raw = pollable.get();
    // The pollable is the context: the connection goes when the pollable does.
    closed.connect(raw, [this, raw] {
        poller_->doUnregister(raw);
        removals_.insert(raw->object());
    });
    pollables_[raw->object()] = pollable;
}

void EventLoopImpl::setPoller(std::unique_ptr<IPoller> poller) {
    assertInLoopThread();
    if (!pollables_.empty() || !poller) {
        LUMO_LOG_ERROR("setPoller(): sockets are registered");
        return;
    }
    poller_ = std::move(poller);
}

} // namespace lumo
