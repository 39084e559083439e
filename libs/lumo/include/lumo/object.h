// Public header of the lumo library: objects, typed signals and futures.
//
// Signals are synchronous and single-threaded: an emission calls every connected
// function on the emitting thread before it returns. Nothing here is locked.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace lumo {

class ISignal;

/// Common base of the library's objects. An object used as the context of a signal
/// connection is disconnected from that signal when it is destroyed.
/// Not thread-safe: an object belongs to the thread that created it.
class Object {
public:
    Object();
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    /// Creation time in milliseconds of currentTimeMs().
    std::int64_t createdAt() const { return createdAt_; }

    /// Bookkeeping for signals; not for users.
    void addConnectedSignal(ISignal* signal) { connectedSignals_.insert(signal); }
    void removeConnectedSignal(ISignal* signal) { connectedSignals_.erase(signal); }
    const std::set<ISignal*>& connectedSignals() const { return connectedSignals_; }

private:
    std::set<ISignal*> connectedSignals_;
    std::int64_t createdAt_;
};

/// The untyped face of a signal, through which objects and other signals unlink it.
class ISignal {
public:
    virtual ~ISignal() = default;
    /// Removes the forwarding connections into `target`.
    virtual void dropTarget(ISignal* target) = 0;
    /// Removes the lasting and one-time connections made under `context`.
    virtual void disconnect(Object* context) = 0;
    /// Forgets a signal that forwards into this one.
    virtual void dropSource(ISignal* source) = 0;
};

namespace detail {
void warnThenAlreadyBound();
}

/// The result of a signal's next emission (Signal::next). A future holds one
/// continuation for success and one for failure; each runs at most once.
/// A future fails when its signal is destroyed before emitting. Not thread-safe.
template <typename... Args> class Future {
public:
    using Success = std::function<void(const Args&...)>;
    using Failure = std::function<void(const std::string&)>;

    Future() : state_(std::make_shared<State>()) {}

    /// Binds the continuations; an empty function leaves that side as it is. Binding a
    /// side that is already bound logs "future::then already bound" and replaces it.
    /// When the future has already settled, the matching continuation runs at once.
    Future& then(Success onSuccess, Failure onFailure = {}) {
        if (onSuccess) {
            if (state_->success)
                detail::warnThenAlreadyBound();
            state_->success = std::move(onSuccess);
        }
        if (onFailure) {
            if (state_->failure)
                detail::warnThenAlreadyBound();
            state_->failure = std::move(onFailure);
        }
        state_->deliver();
        return *this;
    }

    bool isSettled() const { return state_->value.has_value() || state_->error.has_value(); }

    /// Settles the future with a value; a second settlement is ignored.
    void resolve(const Args&... args) const {
        if (!isSettled()) {
            state_->value.emplace(args...);
            state_->deliver();
        }
    }

    /// Settles the future with an error text; a second settlement is ignored.
    void reject(const std::string& why) const {
        if (!isSettled()) {
            state_->error = why;
            state_->deliver();
        }
    }

private:
    struct State {
        Success success;
        Failure failure;
        std::optional<std::tuple<std::decay_t<Args>...>> value;
        std::optional<std::string> error;
        bool delivered = false;

        void deliver() {
            if (delivered)
                return;
            if (value && success) {
                delivered = true;
                // Released after the call: the continuation runs once.
                Success fn = std::move(success);
                failure = nullptr;
                std::apply(fn, *value);
            } else if (error && failure) {
                delivered = true;
                Failure fn = std::move(failure);
                success = nullptr;
                fn(*error);
            }
        }
    };
    std::shared_ptr<State> state_;
};

/// A typed signal. Connections are grouped by context object (compared by address; null
/// is a valid context): lasting ones, one-time ones (dropped after the next emission) and
/// forwarding ones (re-emitting into another signal of the same type).
///
/// Emission order: lasting connections by ascending context address, each context's
/// functions in connection order; then one-time connections in the same order; then
/// forwarding connections by ascending target address; then pending futures.
///
/// Handlers may connect, disconnect, destroy contexts or destroy the signal itself while
/// it emits: disconnected functions are not called any more, lasting and forwarding
/// connections made during an emission take part from the next one, and the emission
/// stops when the signal goes away. Not thread-safe.
template <typename... Args> class Signal : public ISignal {
public:
    using Function = std::function<void(const Args&...)>;

    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    ~Signal() override {
        for (Frame* f = frames_; f; f = f->outer)
            f->signalGone = true;
        for (Object* ctx : contexts_)
            ctx->removeConnectedSignal(this);
        for (ISignal* src : sources_)
            src->dropTarget(this);
        std::set<ISignal*> targets;
        for (const Slot& s : forwards_)
            if (s.live) // a dead slot's target may be gone already
                targets.insert(s.target);
        for (const Slot& s : addedForwards_)
            targets.insert(s.target);
        for (ISignal* target : targets)
            target->dropSource(this);
        auto futures = std::move(futures_);
        for (auto& f : futures)
            f.reject("signal destroyed");
    }

    /// Adds a lasting connection under `context` (may be null).
    void connect(Object* context, Function fn) {
        note(context);
        if (frames_) {
            addedLasting_.push_back(Slot{context, nullptr, std::move(fn)});
            pendingWork_ = true;
        } else {
            insertSorted(lasting_, Slot{context, nullptr, std::move(fn)});
        }
    }

    /// Adds a connection under `context` that runs on the next emission only.
    void connectOnce(Object* context, Function fn) {
        note(context);
        // The group being fired was moved aside, so this list is never walked here.
        insertSorted(once_, Slot{context, nullptr, std::move(fn)});
    }

    /// Re-emits every emission of this signal into `target`, until either is destroyed.
    void forward(Signal& target) {
        Slot slot{nullptr, &target, [&target](const Args&... args) { target.emit(args...); }};
        if (frames_) {
            addedForwards_.push_back(std::move(slot));
            pendingWork_ = true;
        } else {
            insertForward(std::move(slot));
        }
        target.sources_.insert(this);
    }

    void disconnect(Object* context) override {
        if (context && contexts_.erase(context))
            context->removeConnectedSignal(this);
        kill(lasting_, [context](const Slot& s) { return s.context == context; });
        kill(once_, [context](const Slot& s) { return s.context == context; });
        eraseIf(addedLasting_, [context](const Slot& s) { return s.context == context; });
        for (Frame* f = frames_; f; f = f->outer)
            if (f->firingOnce)
                markDead(*f->firingOnce, [context](const Slot& s) { return s.context == context; });
    }

    void dropTarget(ISignal* target) override {
        kill(forwards_, [target](const Slot& s) { return s.target == target; });
        eraseIf(addedForwards_, [target](const Slot& s) { return s.target == target; });
    }

    void dropSource(ISignal* source) override { sources_.erase(source); }

    /// A future resolved by the next emission with its arguments.
    Future<Args...> next() {
        futures_.emplace_back();
        return futures_.back();
    }

    /// Number of live lasting and one-time connections.
    std::size_t connectionCount() const {
        std::size_t n = addedLasting_.size();
        for (const auto* group : {&lasting_, &once_})
            for (const Slot& s : *group)
                n += s.live ? 1 : 0;
        return n;
    }

    /// Calls every connection (see the class comment for the order). An empty function
    /// raises std::bad_function_call.
    void emit(const Args&... args) {
        Frame frame;
        frame.outer = frames_;
        frames_ = &frame;
        {
            // Unlinks the frame even when a handler throws, unless the signal is gone.
            struct Unlink {
                Signal* self;
                Frame& frame;
                ~Unlink() {
                    if (!frame.signalGone)
                        self->frames_ = frame.outer;
                }
            } unlink{this, frame};
            run(frame, args...);
        }
        if (!frame.signalGone && !frames_ && pendingWork_)
            settle();
    }

private:
    struct Slot {
        Object* context;
        ISignal* target;
        Function fn;
        bool live = true;
    };
    using Slots = std::vector<Slot>;

    struct Frame {
        Frame* outer = nullptr;
        Slots* firingOnce = nullptr;
        bool signalGone = false;
    };

    void run(Frame& frame, const Args&... args) {
        // No list walked here changes length during an emission (additions wait in the
        // added lists, removals only mark), so plain indexing is safe.
        if (!call(lasting_, frame, args...))
            return;
        if (!once_.empty()) {
            Slots firing;
            firing.swap(once_);
            frame.firingOnce = &firing;
            if (!call(firing, frame, args...))
                return;
            frame.firingOnce = nullptr;
        }
        if (!forwards_.empty() && !call(forwards_, frame, args...))
            return;
        if (!futures_.empty()) {
            auto futures = std::move(futures_);
            futures_.clear();
            for (auto& f : futures)
                f.resolve(args...);
        }
    }

    // Returns false when a handler destroyed the signal.
    static bool call(Slots& slots, Frame& frame, const Args&... args) {
        Slot* slot = slots.data();
        const std::size_t n = slots.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (!slot[i].live)
                continue;
            slot[i].fn(args...);
            if (frame.signalGone)
                return false;
        }
        return true;
    }

    void note(Object* context) {
        if (context && contexts_.insert(context).second)
            context->addConnectedSignal(this);
    }

    static void insertSorted(Slots& slots, Slot slot) {
        const std::less<Object*> less;
        auto pos =
            std::upper_bound(slots.begin(), slots.end(), slot.context,
                             [&less](Object* ctx, const Slot& s) { return less(ctx, s.context); });
        slots.insert(pos, std::move(slot));
    }

    void insertForward(Slot slot) {
        const std::less<ISignal*> less;
        auto pos =
            std::upper_bound(forwards_.begin(), forwards_.end(), slot.target,
                             [&less](ISignal* t, const Slot& s) { return less(t, s.target); });
        forwards_.insert(pos, std::move(slot));
    }

    template <typename Pred> static void markDead(Slots& slots, Pred pred) {
        for (Slot& s : slots)
            if (pred(s))
                s.live = false;
    }

    template <typename Pred> static void eraseIf(Slots& slots, Pred pred) {
        slots.erase(std::remove_if(slots.begin(), slots.end(), pred), slots.end());
    }

    // Removes matching slots now, or marks them while an emission may be walking them.
    template <typename Pred> void kill(Slots& slots, Pred pred) {
        if (frames_) {
            markDead(slots, pred);
            pendingWork_ = true;
        } else {
            eraseIf(slots, pred);
        }
    }

    // After the outermost emission: drop dead slots, take in the additions.
    void settle() {
        pendingWork_ = false;
        auto dead = [](const Slot& s) { return !s.live; };
        eraseIf(lasting_, dead);
        eraseIf(once_, dead);
        eraseIf(forwards_, dead);
        Slots lasting = std::move(addedLasting_);
        addedLasting_.clear();
        for (Slot& s : lasting)
            insertSorted(lasting_, std::move(s));
        Slots forwards = std::move(addedForwards_);
        addedForwards_.clear();
        for (Slot& s : forwards)
            insertForward(std::move(s));
    }

    Slots lasting_;
    Slots once_;
    Slots forwards_;
    Slots addedLasting_;
    Slots addedForwards_;
    std::set<ISignal*> sources_;
    // Every non-null context that lists this signal, so none keeps a dangling pointer.
    std::set<Object*> contexts_;
    std::vector<Future<Args...>> futures_;
    Frame* frames_ = nullptr;
    bool pendingWork_ = false;
};

} // namespace lumo
