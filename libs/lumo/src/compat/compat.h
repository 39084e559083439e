// The platform layer: everything the library needs from the operating system besides
// the socket calls themselves. One implementation per platform (posix.cpp here).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace lumo::compat {

/// The system's text for error number `err`.
std::string errorText(int err);
/// The error number of the last failed system call on this thread.
int lastError();
bool isWouldBlock(int err);
bool isInterrupted(int err);

/// Local calendar time of `seconds` since the epoch.
void localTime(std::int64_t seconds, std::tm* out);
/// Local wall clock in ms: calendar fields converted back with the local-time conversion.
std::int64_t localWallClockMs();
/// Microseconds of a clock that never steps (CLOCK_MONOTONIC).
std::int64_t monotonicUs();

/// Identifier of the calling thread.
unsigned long threadId();
void sleepMs(int ms);

/// One-time socket-layer start-up of the process; true when usable.
bool socketLayerStartup();

bool setNonBlocking(int fd);
bool ensureCloexec(int fd);
bool setReuseAddr(int fd);
void closeSocket(int fd);

} // namespace lumo::compat
