// Public header of the lumo library: the millisecond time source.
#pragma once

#include <cstdint>

namespace lumo {

/// Milliseconds of the local wall clock (calendar fields of the local time converted back
/// to seconds since the epoch, times 1000, plus milliseconds). It can move backwards;
/// the loop's timer pass copes with that. Every timer, pacing decision and time-out of
/// the SDK uses it. Thread-safe.
std::int64_t currentTimeMs();

/// The wall clock itself, whatever time source is installed. Thread-safe.
std::int64_t wallClockMs();

/// A replacement time source, so tests can set the clock and step it backwards.
using TimeSource = std::int64_t (*)();

/// Installs `source` as the process-wide time source; nullptr restores the wall clock.
/// Thread-safe, but meant to be called while no loop runs on another thread.
void setTimeSource(TimeSource source);

} // namespace lumo
