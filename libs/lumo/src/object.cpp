#include "lumo/object.h"
#include "lumo/clock.h"
#include "lumo/logger.h"

#include "compat/compat.h"

#include <atomic>

namespace lumo {

namespace {
std::atomic<TimeSource> gTimeSource{nullptr};
std::atomic<LoopClockSource> gLoopClockSource{nullptr};
} // namespace

std::int64_t wallClockMs() {
    return compat::localWallClockMs();
}

std::int64_t currentTimeMs() {
    const TimeSource source = gTimeSource.load(std::memory_order_acquire);
    return source ? source() : compat::localWallClockMs();
}

void setTimeSource(TimeSource source) {
    gTimeSource.store(source, std::memory_order_release);
}

std::int64_t loopClockUs() {
    if (const LoopClockSource loop = gLoopClockSource.load(std::memory_order_acquire))
        return loop();
    if (const TimeSource wall = gTimeSource.load(std::memory_order_acquire))
        return wall() * 1000;
    return compat::monotonicUs();
}

void setLoopClockSource(LoopClockSource source) {
    gLoopClockSource.store(source, std::memory_order_release);
}

Object::Object() : createdAt_(currentTimeMs()) {}

Object::~Object() {
    // disconnect() erases this signal from the set, so walk a copy.
    const auto signals = connectedSignals_;
    for (ISignal* signal : signals)
        signal->disconnect(this);
}

namespace detail {
void warnThenAlreadyBound() {
    LUMO_LOG_WARN("future::then already bound");
}
} // namespace detail

} // namespace lumo
