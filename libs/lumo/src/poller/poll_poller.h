// The POSIX readiness poller on ppoll(2): no limit on descriptor values or count, and a
// time-out to the microsecond, so the loop wakes when a timer is due.
#pragma once

#include "lumo/eventloop.h"

#include <map>
#include <vector>

struct pollfd;

namespace lumo {

class PollPoller final : public IPoller {
public:
    PollPoller();
    ~PollPoller() override;

    void poll(int timeoutMs) override;
    void pollUs(std::int64_t timeoutUs) override;
    bool doRegister(IPollable* pollable) override;
    bool doUnregister(IPollable* pollable) override;

    std::size_t size() const { return byFd_.size(); }

private:
    std::map<int, IPollable*> byFd_;
    // Where each pollable is registered, so a changed descriptor does not leave a stale
    // entry behind.
    std::map<IPollable*, int> fdOf_;
    // Rebuilt every pass; kept to avoid reallocating. Doubles as the dispatch copy.
    std::vector<::pollfd> fds_;
    std::vector<IPollable*> owners_;
};

} // namespace lumo
