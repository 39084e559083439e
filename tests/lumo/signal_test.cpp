#include "lumo/logger.h"
#include "lumo/object.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using lumo::Object;
using lumo::Signal;

// Records which context ran, in order.
struct Recorder {
    std::vector<std::string> calls;
    std::function<void(int)> make(const std::string& tag) {
        return [this, tag](int v) { calls.push_back(tag + std::to_string(v)); };
    }
};

TEST(Signal, EmissionOrderAcrossContextsAndGroups) {
    // Contexts ordered by address: lay them out in one array so the order is known.
    Object contexts[3];
    Signal<int> target;
    Signal<int> sig;
    Recorder rec;
    // Connect in an order unlike address order to show the sort.
    sig.connectOnce(&contexts[0], rec.make("once0:"));
    sig.connect(&contexts[2], rec.make("c2a:"));
    sig.connect(&contexts[0], rec.make("c0a:"));
    sig.connect(&contexts[2], rec.make("c2b:"));
    sig.connect(nullptr, rec.make("null:"));
    sig.forward(target);
    target.connect(nullptr, rec.make("fwd:"));
    bool futureRan = false;
    sig.next().then([&](int v) {
        rec.calls.push_back("future:" + std::to_string(v));
        futureRan = true;
    });

    sig.emit(7);
    const std::vector<std::string> expected = {"null:7",  "c0a:7", "c2a:7",   "c2b:7",
                                               "once0:7", "fwd:7", "future:7"};
    EXPECT_EQ(rec.calls, expected);
    EXPECT_TRUE(futureRan);

    rec.calls.clear();
    sig.emit(8);
    const std::vector<std::string> second = {"null:8", "c0a:8", "c2a:8", "c2b:8", "fwd:8"};
    EXPECT_EQ(rec.calls, second) << "one-time connection and future must not run again";
}

TEST(Signal, DestroyedContextIsDisconnected) {
    Signal<int> sig;
    Recorder rec;
    auto ctx = std::make_unique<Object>();
    sig.connect(ctx.get(), rec.make("a:"));
    sig.connectOnce(ctx.get(), rec.make("b:"));
    EXPECT_EQ(ctx->connectedSignals().count(&sig), 1u);
    EXPECT_EQ(sig.connectionCount(), 2u);
    ctx.reset();
    EXPECT_EQ(sig.connectionCount(), 0u);
    sig.emit(1);
    EXPECT_TRUE(rec.calls.empty());
}

TEST(Signal, ContextDestroyedByEarlierHandlerIsSkipped) {
    Signal<int> sig;
    Recorder rec;
    // Array slots give a known address order: [0] is served before [1].
    std::optional<Object> ctx[2];
    ctx[0].emplace();
    ctx[1].emplace();
    sig.connect(&*ctx[0], [&](int) { ctx[1].reset(); });
    sig.connect(&*ctx[1], rec.make("late:"));
    sig.connectOnce(&*ctx[1], rec.make("once:"));
    sig.emit(1);
    sig.emit(2);
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_EQ(sig.connectionCount(), 1u);
}

TEST(Signal, DestroyedSignalLeavesObjectsConsistent) {
    Object ctx;
    Object onceCtx;
    {
        Signal<> sig;
        sig.connect(&ctx, [] {});
        sig.connectOnce(&onceCtx, [] {});
        sig.emit(); // the one-time group is empty now, but the context still lists it
        EXPECT_EQ(ctx.connectedSignals().size(), 1u);
    }
    EXPECT_TRUE(ctx.connectedSignals().empty());
    EXPECT_TRUE(onceCtx.connectedSignals().empty());
}

TEST(Signal, ForwardingSurvivesEitherEndBeingDestroyed) {
    Recorder rec;
    auto source = std::make_unique<Signal<int>>();
    {
        Signal<int> target;
        target.connect(nullptr, rec.make("t:"));
        source->forward(target);
        source->emit(1);
    }
    source->emit(2); // the target is gone: nothing runs, nothing crashes
    EXPECT_EQ(rec.calls, std::vector<std::string>{"t:1"});

    Signal<int> target;
    source->forward(target);
    source.reset();
    target.emit(3); // the target must not tell a dead source anything on destruction
}

TEST(Signal, TargetDestroyedDuringEmissionThenSourceDestroyed) {
    auto source = std::make_unique<Signal<>>();
    auto target = std::make_unique<Signal<>>();
    source->forward(*target);
    source->connect(nullptr, [&] {
        target.reset();
        source.reset();
    });
    source->emit();
    EXPECT_EQ(source, nullptr);
}

TEST(Signal, HandlerMayDestroyTheSignal) {
    auto sig = std::make_unique<Signal<>>();
    int after = 0;
    Object a, b;
    Object* low = &a < &b ? &a : &b;
    Object* high = &a < &b ? &b : &a;
    sig->connect(low, [&] { sig.reset(); });
    sig->connect(high, [&] { ++after; });
    sig->emit();
    EXPECT_EQ(sig, nullptr);
    EXPECT_EQ(after, 0);
    EXPECT_TRUE(a.connectedSignals().empty());
    EXPECT_TRUE(b.connectedSignals().empty());
}

TEST(Signal, HandlerConnectingDuringEmissionIsSafe) {
    Signal<int> sig;
    int calls = 0;
    // Growing the list while one of its functions runs must not move that function.
    sig.connect(nullptr, [&](int) {
        for (int i = 0; i < 100; ++i)
            sig.connect(nullptr, [&](int) { ++calls; });
    });
    sig.emit(0);
    EXPECT_EQ(calls, 0) << "connections made while emitting join the next emission";
    sig.emit(0);
    EXPECT_EQ(calls, 100);
    EXPECT_EQ(sig.connectionCount(), 201u);
}

TEST(Signal, DisconnectInsideHandlerStopsLaterCalls) {
    Signal<> sig;
    Object ctx;
    int calls = 0;
    sig.connect(&ctx, [&] {
        ++calls;
        sig.disconnect(&ctx);
    });
    sig.connect(&ctx, [&] { ++calls; });
    sig.emit();
    sig.emit();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sig.connectionCount(), 0u);
}

TEST(Signal, EmptyFunctionRaisesBadFunctionCall) {
    Signal<> sig;
    sig.connect(nullptr, std::function<void()>());
    EXPECT_THROW(sig.emit(), std::bad_function_call);
    // The signal stays usable after the throw.
    sig.disconnect(nullptr);
    int n = 0;
    sig.connect(nullptr, [&] { ++n; });
    sig.emit();
    EXPECT_EQ(n, 1);
}

TEST(Future, ResolvedOnceAndReleased) {
    Signal<std::string> sig;
    int runs = 0;
    std::string got;
    auto f = sig.next();
    f.then([&](const std::string& s) {
        ++runs;
        got = s;
    });
    sig.emit("first");
    sig.emit("second");
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(got, "first");
    EXPECT_TRUE(f.isSettled());
    f.resolve("again"); // ignored
    EXPECT_EQ(runs, 1);
}

TEST(Future, ThenAfterResolutionRunsAtOnce) {
    Signal<int> sig;
    auto f = sig.next();
    sig.emit(5);
    int got = 0;
    f.then([&](int v) { got = v; });
    EXPECT_EQ(got, 5);
}

TEST(Future, RebindingWarnsAndReplaces) {
    std::vector<std::string> lines;
    auto& logger = lumo::Logger::defaultLogger();
    logger.setSink([&](const std::string& l) { lines.push_back(l); });
    Signal<int> sig;
    int first = 0, second = 0;
    auto f = sig.next();
    f.then([&](int) { ++first; });
    f.then([&](int) { ++second; });
    sig.emit(1);
    logger.setSink({});
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[warn]"), std::string::npos);
    EXPECT_NE(lines[0].find("future::then already bound"), std::string::npos);
}

TEST(Future, FailsWhenSignalDies) {
    std::string why;
    bool ok = false;
    {
        Signal<> sig;
        sig.next().then([&] { ok = true; }, [&](const std::string& e) { why = e; });
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(why, "signal destroyed");
}

} // namespace
