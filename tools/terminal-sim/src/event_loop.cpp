#include "event_loop.h"

#include <cerrno>

namespace sim {

void EventLoop::watch(int fd, short events, Handler handler) {
    handlers_[fd] = {events, std::move(handler)};
    dirty_ = true;
}

void EventLoop::unwatch(int fd) {
    handlers_.erase(fd);
    dirty_ = true;
}

bool EventLoop::run() {
    running_ = true;
    while (running_) {
        if (dirty_) {
            fds_.clear();
            for (const auto& h : handlers_)
                fds_.push_back(pollfd{h.first, h.second.first, 0});
            dirty_ = false;
        }
        const int n = poll(fds_.data(), fds_.size(), -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (const pollfd& p : fds_) {
            if (!p.revents)
                continue;
            // A handler may unwatch descriptors; look each one up again.
            auto it = handlers_.find(p.fd);
            if (it != handlers_.end()) {
                Handler h = it->second.second;
                h(p.revents);
            }
            if (!running_)
                break;
        }
    }
    return true;
}

} // namespace sim
