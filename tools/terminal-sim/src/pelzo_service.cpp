#include "pelzo_service.h"

#include <cerrno>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

namespace sim {

PelzoService::PelzoService(std::string password) : password_(std::move(password)) {}

PelzoService::~PelzoService() {
    if (timerFd_ >= 0)
        ::close(timerFd_);
}

bool PelzoService::start(EventLoop& loop, Fleet& fleet, std::string* error) {
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        *error = std::string("timerfd_create: ") + std::strerror(errno);
        return false;
    }
    for (const Terminal& t : fleet) {
        simpelzo::TerminalConfig cfg;
        cfg.address = t.bind;
        cfg.password = password_;
        if (const std::string* id = t.get("DEV_ID"))
            cfg.deviceId = *id;
        auto terminal = std::make_unique<simpelzo::Terminal>(cfg);
        if (!terminal->open(*error))
            return false;
        simpelzo::Terminal* raw = terminal.get();
        loop.watch(raw->fd(), POLLIN, [this, raw](short) {
            raw->onReadable(simpelzo::steadyMs());
            // A packet may start a session or a capture stream: reschedule.
            tick();
        });
        terminals_.push_back(std::move(terminal));
    }
    loop.watch(timerFd_, POLLIN, [this](short) {
        uint64_t expirations = 0;
        if (::read(timerFd_, &expirations, sizeof expirations) < 0) {
            // Nothing to drain (a spurious wake-up); the tick below re-arms.
        }
        tick();
    });
    tick();
    return true;
}

void PelzoService::tick() {
    const int64_t now = simpelzo::steadyMs();
    int64_t wait = -1;
    for (auto& t : terminals_) {
        const int64_t w = t->tick(now);
        if (w >= 0 && (wait < 0 || w < wait))
            wait = w;
    }
    // Nothing periodic yet: terminals wait for a server to talk to them.
    itimerspec when{};
    if (wait >= 0) {
        const int64_t ms = wait > 0 ? wait : 1;
        when.it_value.tv_sec = ms / 1000;
        when.it_value.tv_nsec = (ms % 1000) * 1000000;
    }
    ::timerfd_settime(timerFd_, 0, &when, nullptr);
}

} // namespace sim
