#include "pelzo_service.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

namespace sim {

namespace {

std::string peer(const simpelzo::TerminalActivity& a) {
    in_addr ip{};
    ip.s_addr = htonl(a.serverIp);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &ip, text, sizeof text);
    return std::string(text) + ":" + std::to_string(a.serverPort);
}

void say(const std::string& address, const std::string& what) {
    std::printf("pelzo %s %s\n", address.c_str(), what.c_str());
    std::fflush(stdout);
}

} // namespace

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
        // The log counts frames; nobody reads them back here, and a demo runs for hours.
        cfg.maxRecordedFrames = 0;
        if (const std::string* id = t.get("DEV_ID"))
            cfg.deviceId = *id;
        auto terminal = std::make_unique<simpelzo::Terminal>(cfg);
        if (!terminal->open(*error))
            return false;
        simpelzo::Terminal* raw = terminal.get();
        const size_t index = terminals_.size();
        loop.watch(raw->fd(), POLLIN, [this, raw, index](short) {
            const int64_t now = simpelzo::steadyMs();
            raw->onReadable(now);
            report(index, now);
            // A packet may start a session or a capture stream: reschedule.
            tick();
        });
        terminals_.push_back(std::move(terminal));
        logs_.emplace_back();
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

void PelzoService::report(size_t i, int64_t now) {
    const simpelzo::TerminalActivity a = terminals_[i]->activity();
    Log& log = logs_[i];
    const std::string& address = terminals_[i]->config().address;
    if (a.loginsAccepted > log.seen.loginsAccepted)
        say(address, "logged in from " + peer(a));
    if (a.loginsRefused > log.seen.loginsRefused)
        say(address, "refused a login from " + peer(a));
    if (a.audioPackets > log.seen.audioPackets) {
        if (!log.hearing) {
            log.hearing = true;
            log.packetsAtStart = log.seen.audioPackets;
            log.framesAtStart = log.seen.audioFrames;
            say(address, "hearing audio from " + peer(a));
        }
        log.lastAudioAt = now;
    }
    log.seen = a;
}

int64_t PelzoService::endStream(size_t i, int64_t now) {
    Log& log = logs_[i];
    if (!log.hearing)
        return -1;
    const int64_t left = log.lastAudioAt + kStreamEndMs - now;
    if (left > 0)
        return left;
    log.hearing = false;
    const int packets = log.seen.audioPackets - log.packetsAtStart;
    const int frames = log.seen.audioFrames - log.framesAtStart;
    char line[128];
    // Frames are 20 ms each.
    std::snprintf(line, sizeof line, "heard %d packets, %d frames (%.1f s of audio)", packets,
                  frames, frames * 0.02);
    say(terminals_[i]->config().address, line);
    return -1;
}

void PelzoService::tick() {
    const int64_t now = simpelzo::steadyMs();
    int64_t wait = -1;
    auto sooner = [&wait](int64_t w) {
        if (w >= 0 && (wait < 0 || w < wait))
            wait = w;
    };
    for (size_t i = 0; i < terminals_.size(); ++i) {
        sooner(terminals_[i]->tick(now));
        sooner(endStream(i, now));
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
