#include "pelzo_terminal.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simpelzo {

int64_t steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Terminal::Terminal(TerminalConfig config)
    : config_(std::move(config)), random_(std::hash<std::string>{}(config_.address)) {}

Terminal::~Terminal() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool Terminal::open(std::string& error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(config_.port);
    if (inet_pton(AF_INET, config_.address.c_str(), &sa.sin_addr) != 1) {
        error = "invalid address \"" + config_.address + "\"";
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = std::string("socket(): ") + std::strerror(errno);
        return false;
    }
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = "bind " + config_.address + ":" + std::to_string(config_.port) + ": " +
                std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void Terminal::sendTo(uint32_t ip, uint16_t port, const std::string& bytes) {
    if (config_.silent)
        return;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(ip);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

void Terminal::sendToServer(const std::string& bytes) {
    if (state_.serverPort != 0)
        sendTo(state_.serverIp, state_.serverPort, bytes);
}

void Terminal::onReadable(int64_t now) {
    uint8_t buf[4096];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        ++state_.datagrams;
        state_.bytes += static_cast<uint64_t>(n);
        Packet p;
        if (!unframe(buf, static_cast<size_t>(n), p)) {
            ++state_.malformed;
        } else {
            state_.received.push_back(p.byte0);
            handle(p, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), now);
        }
        changed_.notify_all();
    }
}

void Terminal::handle(const Packet& p, uint32_t ip, uint16_t port, int64_t now) {
    // The server is whoever talks to us; a terminal answers its last peer.
    state_.serverIp = ip;
    state_.serverPort = port;

    switch (p.type()) {
    case kHeartbeat:
        if (p.replyMark())
            ++state_.heartbeatReplies;
        break;
    case kLogin: {
        std::string token;
        if (!decodeLoginRequest(p.payload, token)) {
            ++state_.malformed;
            return;
        }
        state_.lastToken = token;
        // Any challenge still open may be the one answered: a reply can cross
        // a newer challenge on the wire.
        bool ok = false;
        for (uint32_t seed : openSeeds_)
            ok = ok ||
                 token == expectedToken(seed, config_.serial, config_.password, config_.deviceId);
        if (ok)
            openSeeds_.clear();
        state_.loggedIn = ok;
        if (ok)
            ++state_.loginsAccepted;
        else
            ++state_.loginsRefused;
        sendTo(ip, port,
               frame(kLogin, ok ? encodeLoginResponse(200, "")
                                : encodeLoginResponse(401, config_.refusalMessage)));
        break;
    }
    case kVolume: {
        if (p.payload.size() < 2) {
            ++state_.malformed;
            return;
        }
        const int volume = static_cast<uint8_t>(p.payload[0]);
        const int which = static_cast<uint8_t>(p.payload[1]);
        ++state_.volumePackets;
        if (which == 0)
            state_.inputVolume = volume;
        else if (which == 1)
            state_.outputVolume = volume;
        else
            return;
        sendTo(ip, port, frame(kVolume, p.payload.substr(0, 2)));
        break;
    }
    case kStartCapture:
        if (p.payload.size() != 1) {
            ++state_.malformed;
            return;
        }
        ++state_.startRequests;
        state_.capturing = true;
        state_.captureRateCode = static_cast<uint8_t>(p.payload[0]) & 0x0F;
        nextCapture_ = now;
        break;
    case kStopCapture:
        ++state_.stopRequests;
        state_.capturing = false;
        break;
    case kAudio: {
        AudioPayload audio;
        if (!decodeAudio(p.payload, audio)) {
            ++state_.malformed;
            return;
        }
        ++state_.audioPackets;
        state_.audioFrames += static_cast<int>(audio.frames.size());
        for (const std::string& f : audio.frames)
            if (state_.opus.size() < config_.maxRecordedFrames)
                state_.opus.push_back(f);
        state_.lastAudio = std::move(audio);
        break;
    }
    default:
        break;
    }
    if (!state_.loggedIn && config_.challengeIntervalMs > 0 && now >= nextChallenge_ &&
        p.type() != kLogin) {
        challengeLocked();
        nextChallenge_ = now + config_.challengeIntervalMs;
    }
}

void Terminal::challengeLocked() {
    state_.lastSeed = static_cast<uint32_t>(random_());
    openSeeds_.push_back(state_.lastSeed);
    if (openSeeds_.size() > kOpenChallenges)
        openSeeds_.pop_front();
    ++state_.challengesSent;
    sendToServer(
        frame(kChallenge, encodeChallenge(state_.lastSeed, config_.serial, config_.deviceId)));
}

int64_t Terminal::tick(int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t wait = -1;
    auto due = [&](int64_t interval, int64_t& next) {
        if (interval <= 0 || state_.serverPort == 0)
            return false;
        const bool fire = now >= next;
        if (fire)
            next = now + interval;
        const int64_t left = next - now;
        wait = wait < 0 ? left : std::min(wait, left);
        return fire;
    };
    if (due(config_.heartbeatIntervalMs, nextHeartbeat_))
        heartbeatLocked();
    if (!state_.loggedIn && due(config_.challengeIntervalMs, nextChallenge_))
        challengeLocked();
    if (state_.capturing && due(config_.captureIntervalMs, nextCapture_))
        captureLocked();
    changed_.notify_all();
    return wait;
}

void Terminal::setServer(uint32_t ip, uint16_t port) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.serverIp = ip;
    state_.serverPort = port;
}

void Terminal::setPassword(std::string password) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.password = std::move(password);
}

void Terminal::sendChallenge() {
    std::lock_guard<std::mutex> lock(mutex_);
    challengeLocked();
}

void Terminal::heartbeatLocked() {
    ++state_.heartbeatsSent;
    sendToServer(frame(kHeartbeat | (state_.capturing ? 0x20 : 0), ""));
}

// Captured audio is opaque to the SDK; a little-endian sequence number lets a
// test see order and loss.
void Terminal::captureLocked() {
    ++state_.captureSent;
    std::string payload(4, '\0');
    for (int i = 0; i < 4; ++i)
        payload[i] = static_cast<char>(captureSeq_ >> (8 * i));
    ++captureSeq_;
    sendToServer(frame(kCaptureAudio, payload));
}

void Terminal::sendHeartbeat() {
    std::lock_guard<std::mutex> lock(mutex_);
    heartbeatLocked();
}

void Terminal::sendCaptureFrame() {
    std::lock_guard<std::mutex> lock(mutex_);
    captureLocked();
}

void Terminal::sendRaw(const std::string& datagram) {
    std::lock_guard<std::mutex> lock(mutex_);
    sendToServer(datagram);
}

TerminalState Terminal::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

TerminalActivity Terminal::activity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    TerminalActivity a;
    a.serverIp = state_.serverIp;
    a.serverPort = state_.serverPort;
    a.loggedIn = state_.loggedIn;
    a.loginsAccepted = state_.loginsAccepted;
    a.loginsRefused = state_.loginsRefused;
    a.audioPackets = state_.audioPackets;
    a.audioFrames = state_.audioFrames;
    return a;
}

bool Terminal::waitFor(const std::function<bool(const TerminalState&)>& pred,
                       int64_t guardMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(guardMs),
                             [&] { return pred(state_); });
}

TerminalRunner::TerminalRunner(std::vector<Terminal*> terminals, Clock clock)
    : terminals_(std::move(terminals)), clock_(clock ? std::move(clock) : Clock(steadyMs)) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { run(); });
}

TerminalRunner::~TerminalRunner() {
    stop();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

void TerminalRunner::stop() {
    if (!thread_.joinable())
        return;
    const char b = 'q';
    if (::write(wake_[1], &b, 1) < 0) {
        // The pipe is never full here; a failure leaves the thread to its poll time-out.
    }
    thread_.join();
}

void TerminalRunner::run() {
    std::vector<pollfd> fds;
    fds.push_back({wake_[0], POLLIN, 0});
    for (Terminal* t : terminals_)
        fds.push_back({t->fd(), POLLIN, 0});
    for (;;) {
        int64_t wait = 1000;
        const int64_t now = clock_();
        for (Terminal* t : terminals_) {
            const int64_t w = t->tick(now);
            if (w >= 0 && w < wait)
                wait = w;
        }
        if (::poll(fds.data(), fds.size(), static_cast<int>(wait)) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                terminals_[i - 1]->onReadable(clock_());
    }
}

} // namespace simpelzo
