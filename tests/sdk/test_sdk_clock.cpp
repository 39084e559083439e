// Time-driven behaviour of the C interface with the SDK's clock replaced. Linked against
// the static build of the library, whose clock a test can reach; everything else goes
// through the public header.
#include "sdk_test_support.h"

#include "pelzo/pelzo_sdk.h"

#include <lumo/clock.h>

#include <gtest/gtest.h>

#include <atomic>

using sdktest::Event;
using sdktest::Recorder;

namespace {

const bool gPrivateNetwork = netns::enterLoopbackOnly();

constexpr int64_t kStart = 1'800'000'000'000;
std::atomic<int64_t> gNow{kStart};
int64_t fakeNow() {
    return gNow.load();
}

int stateEvents(const pelzo_ctx* ctx, const std::string& address) {
    return Recorder::instance().count([&](const Event& e) {
        return e.handle == ctx && e.kind == "state" && e.address == address;
    });
}

// Runs the worker's loop through a full pass: the first waited call wakes it, the second
// returns only after the next pass ran its due timers.
void passWorker(pelzo_ctx* ctx) {
    ASSERT_EQ(pelzo_ctx_set_priority(ctx, 3), 0);
    ASSERT_EQ(pelzo_ctx_set_priority(ctx, 3), 0);
}

TEST(SdkClock, SilentTerminalIsReportedNotResponding) {
    lumo::setTimeSource(&fakeNow);
    EXPECT_EQ(pelzo_current_time_ms(), kStart);
    ASSERT_EQ(pelzo_init(), 0);
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    sdktest::recordAll(ctx);
    // Nobody answers there; adding it sends nothing.
    const std::string address = sdktest::nextAddress(gPrivateNetwork);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, address.c_str(), nullptr), 0);

    gNow += 9999;
    passWorker(ctx);
    EXPECT_EQ(stateEvents(ctx, address), 0) << "not yet ten seconds of silence";

    gNow += 1;
    passWorker(ctx);
    ASSERT_EQ(stateEvents(ctx, address), 1);
    const Event first = Recorder::instance().events().back();
    EXPECT_EQ(first.value, 1);
    EXPECT_EQ(first.text, "NOT_RESPONDING");

    // Repeated every ten seconds while the terminal stays silent.
    gNow += 5000;
    passWorker(ctx);
    EXPECT_EQ(stateEvents(ctx, address), 1);
    gNow += 5000;
    passWorker(ctx);
    EXPECT_EQ(stateEvents(ctx, address), 2);

    pelzo_ctx_destroy(ctx);
    EXPECT_EQ(pelzo_deinit(), 0);
    lumo::setTimeSource(nullptr);
}

} // namespace
