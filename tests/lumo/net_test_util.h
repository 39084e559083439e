// Helpers for the socket tests: a fresh loop per case and plain blocking peers.
#pragma once

#include "lumo/eventloop.h"
#include "lumo/logger.h"

#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nettest {

// Runs `body` on a thread of its own (so it gets a fresh loop) with a short repeating
// timer, so that passes never wait long for a condition that needs no traffic.
inline void onFreshLoop(const std::function<void(lumo::EventLoopImpl&)>& body) {
    std::thread t([&] {
        auto* loop = lumo::EventLoopImpl::current();
        auto tick = loop->startTimer(5);
        body(*loop);
        tick->stop();
    });
    t.join();
}

// Runs passes until `done` holds; false when it never did.
inline bool spin(lumo::EventLoopImpl& loop, const std::function<bool()>& done,
                 int maxPasses = 4000) {
    for (int i = 0; i < maxPasses && !done(); ++i)
        loop.processOnce();
    return done();
}

inline sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

inline int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = loopback(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

inline std::uint16_t localPortOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// Captures the default logger's lines (all levels) for the life of the object.
class LogCapture {
public:
    LogCapture() {
        auto& logger = lumo::Logger::defaultLogger();
        oldLevel_ = logger.level();
        logger.setLevel(lumo::Logger::Debug);
        logger.setSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() {
        auto& logger = lumo::Logger::defaultLogger();
        logger.setSink({});
        logger.setLevel(oldLevel_);
    }
    bool contains(const std::string& text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    int oldLevel_;
};

} // namespace nettest
