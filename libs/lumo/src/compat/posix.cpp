#include "compat/compat.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace lumo::compat {

std::string errorText(int err) {
    char buf[256];
    // GNU strerror_r may return a static text instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "unknown error";
}

int lastError() {
    return errno;
}

bool isWouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS;
}

bool isInterrupted(int err) {
    return err == EINTR;
}

namespace {
// glibc re-reads the time zone inside mktime without a lock of its own.
std::mutex gTimeZoneMutex;
} // namespace

void localTime(std::int64_t seconds, std::tm* out) {
    const time_t t = static_cast<time_t>(seconds);
    std::lock_guard<std::mutex> lock(gTimeZoneMutex);
    if (!localtime_r(&t, out))
        std::memset(out, 0, sizeof *out);
}

std::int64_t localWallClockMs() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    // The calendar round trip is costly (the time zone is consulted) and its result only
    // changes with the second, so each thread keeps the last one.
    thread_local time_t cachedSecond = -1;
    thread_local time_t cachedResult = 0;
    if (tv.tv_sec != cachedSecond) {
        std::tm tm{};
        const time_t now = tv.tv_sec;
        std::lock_guard<std::mutex> lock(gTimeZoneMutex);
        localtime_r(&now, &tm);
        tm.tm_isdst = -1;
        cachedResult = mktime(&tm);
        cachedSecond = now;
    }
    return std::int64_t(cachedResult) * 1000 + tv.tv_usec / 1000;
}

std::int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

unsigned long threadId() {
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// POSIX sockets need no start-up.
bool socketLayerStartup() {
    return true;
}

bool setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool ensureCloexec(int fd) {
    const int flags = fcntl(fd, F_GETFD, 0);
    return flags >= 0 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

bool setReuseAddr(int fd) {
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

void closeSocket(int fd) {
    ::close(fd);
}

} // namespace lumo::compat
