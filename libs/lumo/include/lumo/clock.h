// Public header of the lumo library: the millisecond time source.
#pragma once

#include <cstdint>

namespace lumo {

/// Milliseconds of the local wall clock (calendar fields of the local time converted back
/// to seconds since the epoch, times 1000, plus milliseconds): the time callers see
/// (`pelzo_current_time_ms`), log stamps, terminals' last-seen times. It can move
/// backwards. Thread-safe.
std::int64_t currentTimeMs();

/// The wall clock itself, whatever time source is installed. Thread-safe.
std::int64_t wallClockMs();

/// A replacement time source, so tests can set the clock and step it backwards.
using TimeSource = std::int64_t (*)();

/// Installs `source` as the process-wide time source; nullptr restores the wall clock.
/// Thread-safe, but meant to be called while no loop runs on another thread.
void setTimeSource(TimeSource source);

/// Microseconds of the clock the loop keeps its timers, poll time-outs and pacing on:
/// CLOCK_MONOTONIC, so deadlines are sub-millisecond and a step of the wall clock moves
/// none of them. While a replacement wall time source is installed and no loop clock
/// source is, it follows that source (its milliseconds times 1000), so a test that drives
/// the wall clock drives the loop's timers with it. Thread-safe.
std::int64_t loopClockUs();

/// A replacement loop clock in microseconds, for tests that need sub-millisecond steps.
using LoopClockSource = std::int64_t (*)();

/// Installs `source` as the process-wide loop clock; nullptr goes back to the rule above.
/// Thread-safe, but meant to be called while no loop runs on another thread.
void setLoopClockSource(LoopClockSource source);

} // namespace lumo
