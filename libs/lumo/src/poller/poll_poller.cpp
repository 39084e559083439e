#include "poller/poll_poller.h"

#include "lumo/logger.h"

#include <cerrno>
#include <poll.h>
#include <time.h>

namespace lumo {

PollPoller::PollPoller() = default;
PollPoller::~PollPoller() = default;

void PollPoller::poll(int timeoutMs) {
    pollUs(timeoutMs < 0 ? -1 : std::int64_t(timeoutMs) * 1000);
}

void PollPoller::pollUs(std::int64_t timeoutUs) {
    fds_.clear();
    owners_.clear();
    for (const auto& [fd, pollable] : byFd_) {
        const int interest = pollable->events();
        short events = 0;
        if (interest & kReadable)
            events |= POLLIN;
        if (interest & kWritable)
            events |= POLLOUT;
        // No interest: leave the descriptor out, or its hang-up would wake every pass.
        fds_.push_back(pollfd{events ? fd : -1, events, 0});
        owners_.push_back(pollable);
    }
    // A negative time-out waits without end, as poll(2) does.
    timespec wait{};
    if (timeoutUs >= 0) {
        wait.tv_sec = time_t(timeoutUs / 1'000'000);
        wait.tv_nsec = long(timeoutUs % 1'000'000) * 1000;
    }
    const int ready = ::ppoll(fds_.data(), fds_.size(), timeoutUs >= 0 ? &wait : nullptr, nullptr);
    if (ready <= 0)
        return;
    // Walk the arrays built above: handlers may register and unregister at will.
    for (std::size_t i = 0; i < fds_.size(); ++i) {
        const short revents = fds_[i].revents;
        if (revents == 0)
            continue;
        IPollable* pollable = owners_[i];
        // A descriptor unregistered by an earlier handler of this pass gets nothing more.
        auto live = byFd_.find(fds_[i].fd);
        if (live == byFd_.end() || live->second != pollable)
            continue;
        const int interest = pollable->events();
        if ((interest & kWritable) && (revents & (POLLOUT | POLLERR | POLLHUP))) {
            if (!pollable->onWriteReady())
                continue;
            live = byFd_.find(fds_[i].fd);
            if (live == byFd_.end() || live->second != pollable)
                continue;
        }
        if ((pollable->events() & kReadable) && (revents & (POLLIN | POLLERR | POLLHUP)))
            pollable->onReadReady();
    }
}

bool PollPoller::doRegister(IPollable* pollable) {
    const int fd = pollable->fd();
    if (fd == -1) {
        LUMO_LOG_ERROR("doRegister(): fd invalid");
        return false;
    }
    auto known = fdOf_.find(pollable);
    if (known != fdOf_.end()) {
        if (known->second == fd)
            return true;
        byFd_.erase(known->second);
        fdOf_.erase(known);
    } else {
        pollable->fdChanged.connect(this, [this, pollable] { doRegister(pollable); });
    }
    // An already registered descriptor keeps its first pollable.
    if (byFd_.emplace(fd, pollable).second)
        fdOf_[pollable] = fd;
    return true;
}

bool PollPoller::doUnregister(IPollable* pollable) {
    auto known = fdOf_.find(pollable);
    if (known != fdOf_.end()) {
        byFd_.erase(known->second);
        fdOf_.erase(known);
    }
    pollable->fdChanged.disconnect(this);
    return true;
}

} // namespace lumo
