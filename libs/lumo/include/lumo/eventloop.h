// Public header of the lumo library: the per-thread event loop, its timers, the poller
// interface and deferred deletion.
//
// A loop belongs to one thread; every object created through it (timers, sockets) must
// only be touched on that thread. Methods marked "loop thread only" check this and abort
// when called from another thread.
#pragma once

#include "lumo/clock.h"
#include "lumo/object.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

namespace lumo {

class TcpServer;
class TimerImpl;
class UdpSocket;

/// Aborts with an error line unless called on the thread `owner`. Loop-bound objects
/// check with it, so a use from another thread fails loudly instead of racing.
void assertOnThread(std::thread::id owner);

/// Deleter of every shared pointer that hands out a loop-bound object: the object is
/// queued on the releasing thread's pending-deletion set and deleted at the end of that
/// thread's current (or next) loop pass. So an object may drop the last reference to
/// itself inside one of its own handlers. Release the last reference on the loop thread.
struct DeleteLater {
    void operator()(Object* object) const;
};

/// Interest bits of IPollable::events.
enum PollEvents : int { kReadable = 1, kWritable = 2 };

/// What the poller watches: a descriptor with handlers. Loop thread only.
class IPollable : public Object {
public:
    ~IPollable() override = default;
    /// The descriptor, -1 when none.
    virtual int fd() const = 0;
    virtual void onReadReady() = 0;
    /// Returns false to skip read handling for this descriptor in this pass.
    virtual bool onWriteReady() = 0;
    /// Closes the descriptor and forgets it.
    virtual void closeFd() = 0;
    /// The wrapped implementation object (the loop's key for this pollable).
    virtual Object* object() const = 0;
    /// Interest mask of PollEvents bits; read again on every pass.
    virtual int events() const = 0;
    /// Asks the wrapped object to close; it emits its closed signal once.
    virtual void close() = 0;

    /// Emitted when fd() changes; the poller then registers the new descriptor.
    Signal<> fdChanged;
};

/// Adapter through which a socket implementation takes part in polling. Holds its
/// object strongly and forwards every operation to it.
template <typename T> class Pollable final : public IPollable {
public:
    explicit Pollable(std::shared_ptr<T> impl) : impl_(std::move(impl)) {}
    int fd() const override { return impl_->fd(); }
    void onReadReady() override { impl_->onReadReady(); }
    bool onWriteReady() override { return impl_->onWriteReady(); }
    void closeFd() override { impl_->closeFd(); }
    Object* object() const override { return impl_.get(); }
    int events() const override { return impl_->events(); }
    void close() override { impl_->close(); }

private:
    std::shared_ptr<T> impl_;
};

/// Readiness poller. Dispatch rules the sockets rely on: interest masks are read every
/// pass, descriptors are served in ascending order, write readiness before read readiness,
/// a false onWriteReady skips the read handler, and handlers may register or unregister
/// freely during dispatch. Loop thread only.
class IPoller : public Object {
public:
    ~IPoller() override = default;
    /// Waits up to `timeoutMs` and dispatches readiness.
    virtual void poll(int timeoutMs) = 0;
    /// Starts watching `pollable` (not owned). False, with an error line, without descriptor.
    virtual bool doRegister(IPollable* pollable) = 0;
    /// Stops watching `pollable`.
    virtual bool doUnregister(IPollable* pollable) = 0;
    /// Waits up to `timeoutUs` microseconds and dispatches readiness; the loop calls this
    /// one. A poller that only knows milliseconds gets the time-out rounded up, so it
    /// never wakes before a deadline.
    virtual void pollUs(std::int64_t timeoutUs) { poll(int((timeoutUs + 999) / 1000)); }
};

/// A loop timer. Armed when created; the loop holds it until it fired for the last time
/// or it was stopped and its deadline came. Loop thread only.
class Timer : public Object {
public:
    ~Timer() override = default;
    /// The timer never fires again.
    virtual void stop() = 0;
    /// Next deadline in ms of the loop clock (loopClockUs() / 1000).
    virtual std::int64_t deadline() const = 0;
    /// Repeat interval in ms; 0 for a single shot.
    virtual std::int64_t interval() const = 0;
    /// Next deadline in microseconds of loopClockUs(), as the loop keeps it.
    virtual std::int64_t deadlineUs() const = 0;
    /// Repeat interval in microseconds; 0 for a single shot.
    virtual std::int64_t intervalUs() const = 0;

    /// Emitted when the timer fires.
    Signal<> timeout;
};

/// The event loop of one thread: timers, the poller with its registered sockets and the
/// deferred deletions, run pass by pass. Deadlines and poll time-outs are kept in
/// microseconds of loopClockUs() (monotonic), so a timer fires when it is due rather than
/// on the next millisecond, and wall-clock steps do not move it.
class EventLoopImpl {
public:
    /// The calling thread's loop, created on first use. Thread-safe (per thread).
    static EventLoopImpl* current();

    ~EventLoopImpl();

    /// Runs passes until quit(), then one more pass; returns 0. Loop thread only.
    int exec();
    /// Makes exec() return after the next pass. Loop thread only; other threads go
    /// through a command pipe.
    void quit();
    /// Runs one pass: timers, polling, removals, deferred deletions. Loop thread only.
    void processOnce();

    /// Creates a listening TCP server and registers it. On failure logs the reason,
    /// stores it in `error` (when not null) and returns an empty pointer. Loop thread only.
    std::shared_ptr<TcpServer> tcpListen(const std::string& address, std::uint16_t port,
                                         std::string* error);
    /// Creates a bound UDP socket (broadcast enabled) and registers it; failures as for
    /// tcpListen. Loop thread only.
    std::shared_ptr<UdpSocket> udpSetup(const std::string& address, std::uint16_t port,
                                        std::string* error);

    /// A repeating timer firing every `intervalMs`. Loop thread only.
    std::shared_ptr<Timer> startTimer(int intervalMs);
    /// A single-shot timer after `delayMs` calling `callback` under `context` (may be
    /// null): destroying the context first removes the callback. Loop thread only.
    std::shared_ptr<Timer> singleShot(int delayMs, Object* context, std::function<void()> callback);
    /// A timer first due at `deadlineUs` of loopClockUs(), then every `intervalUs` (0: a
    /// single shot). For schedules finer than a millisecond. Loop thread only.
    std::shared_ptr<Timer> startTimerAt(std::int64_t deadlineUs, std::int64_t intervalUs);

    /// Registers a socket's pollable: it is polled until `closed` is emitted, then leaves
    /// the poller at once and is dropped (descriptor closed) at the end of that pass.
    /// For socket implementations. Loop thread only.
    void attach(const std::shared_ptr<IPollable>& pollable, Signal<>& closed);

    /// Replaces the poller; only while no socket is registered. For tests and other
    /// platforms. Loop thread only.
    void setPoller(std::unique_ptr<IPoller> poller);
    IPoller* poller() const { return poller_.get(); }

    /// The time-out handed to the poller by the latest pass, in ms rounded up.
    int lastPollTimeout() const { return int((lastTimeoutUs_ + 999) / 1000); }
    /// The same in microseconds.
    std::int64_t lastPollTimeoutUs() const { return lastTimeoutUs_; }
    /// Number of armed timers (stopped ones included until their deadline).
    std::size_t timerCount() const;
    /// Number of registered sockets.
    std::size_t pollableCount() const { return pollables_.size(); }
    /// Set by a pass that found nothing to do. Informational only: an emptied loop keeps
    /// working normally when sockets or timers come back.
    bool idle() const { return idle_; }

    bool isInLoopThread() const { return std::this_thread::get_id() == thread_; }
    /// Aborts with an error line when called off the loop's thread.
    void assertInLoopThread() const { assertOnThread(thread_); }

private:
    EventLoopImpl();
    // Fires the due timers at `nowUs`; returns the poll time-out in microseconds.
    std::int64_t timerPass(std::int64_t nowUs, int& work);
    std::shared_ptr<Timer> armAt(std::int64_t deadlineUs, std::int64_t intervalUs);

    using Bucket = std::map<TimerImpl*, std::shared_ptr<TimerImpl>>;

    std::thread::id thread_;
    bool quit_ = false;
    bool idle_ = false;
    std::int64_t lastTimeoutUs_ = 0;
    std::int64_t lastNowUs_ = 0;
    std::unique_ptr<IPoller> poller_;
    std::map<Object*, std::shared_ptr<IPollable>> pollables_;
    std::set<Object*> removals_;
    std::map<std::int64_t, Bucket> timers_;
};

/// tcpListen on the calling thread's loop.
std::shared_ptr<TcpServer> tcpListen(const std::string& address, std::uint16_t port,
                                     std::string* error);
/// udpSetup on the calling thread's loop.
std::shared_ptr<UdpSocket> udpSetup(const std::string& address, std::uint16_t port,
                                    std::string* error);

} // namespace lumo
