#pragma once

#include <functional>
#include <map>
#include <poll.h>
#include <vector>

namespace sim {

// A small poll loop: services register their descriptors with a handler each.
class EventLoop {
public:
    using Handler = std::function<void(short revents)>;

    void watch(int fd, short events, Handler handler);
    void unwatch(int fd);
    // Runs until stop(); returns false when poll itself fails.
    bool run();
    void stop() { running_ = false; }

private:
    std::map<int, std::pair<short, Handler>> handlers_;
    std::vector<pollfd> fds_;
    bool dirty_ = true;
    bool running_ = false;
};

} // namespace sim
