#include "pelzo-sdk/pelzo-ctx.h"

#include "pelzo-sdk/pelzo-messages.h"
#include "pelzo-sdk/pelzo-wire.h"

#include <lumo/clock.h>
#include <lumo/logger.h>

#include <arpa/inet.h>

namespace pelzo {

bool parseIpv4(const std::string& text, uint32_t& ip) {
    in_addr addr{};
    // Strict dotted decimal: no octal or shortened forms that would silently
    // name another terminal.
    if (inet_pton(AF_INET, text.c_str(), &addr) != 1)
        return false;
    ip = ntohl(addr.s_addr);
    return ip != 0xFFFFFFFFu;
}

PelzoContext::PelzoContext()
    : loop_(lumo::EventLoopImpl::current()),
      captureDev_(&PelzoDevRegistry::instance().obtain(kLoopbackHost, lumo::currentTimeMs())),
      audio_([this](const uint8_t* packet, size_t size) { sendAudio(packet, size); }) {
    std::string error;
    socket_ = loop_->udpSetup("0.0.0.0", 0, &error);
    if (!socket_) {
        // Said once here; every sending path then quietly does nothing.
        LUMO_LOG_ERROR("failed to create udp socket: %s", error.c_str());
        return;
    }
    socket_->datagram.connect(this, [this](uint32_t ip, uint16_t port, const std::string& data) {
        onDatagram(ip, port, data);
    });
    keepaliveTimer_ = loop_->startTimer(kKeepaliveIntervalMs);
    keepaliveTimer_->timeout.connect(this, [this] { keepalivePass(); });
}

PelzoContext::~PelzoContext() {
    if (keepaliveTimer_)
        keepaliveTimer_->stop();
    if (socket_)
        socket_->close();
}

uint16_t PelzoContext::port() const {
    return socket_ ? socket_->port() : 0;
}

bool PelzoContext::checkedAddress(const std::string& text, uint32_t& ip) const {
    if (parseIpv4(text, ip))
        return true;
    LUMO_LOG_WARN("'%s' is not a valid ip address", text.c_str());
    return false;
}

int PelzoContext::addDevice(const std::string& address, const std::string& password) {
    loop_->assertInLoopThread();
    uint32_t ip = 0;
    if (!checkedAddress(address, ip))
        return 1;
    if (devices_.count(ip))
        return 0; // already ours: its password stays
    PelzoDev& dev = PelzoDevRegistry::instance().obtain(ip, lumo::currentTimeMs());
    dev.password = password.empty() ? kDefaultPassword : password;
    dev.loggedIn = false;
    devices_[ip] = &dev;
    audioTargetsStale_ = true;
    return 0;
}

int PelzoContext::removeDevice(const std::string& address) {
    loop_->assertInLoopThread();
    uint32_t ip = 0;
    if (!checkedAddress(address, ip))
        return 1;
    if (devices_.erase(ip)) {
        audioTargetsStale_ = true;
        // A terminal added again later starts its figures afresh.
        if (ip != captureDev_->ip)
            health_.erase(ip);
    }
    return 0;
}

int PelzoContext::setCaptureDevice(const std::string& address, const std::string& password) {
    loop_->assertInLoopThread();
    uint32_t ip = 0;
    if (!checkedAddress(address, ip))
        return 1;
    captureDev_ = &PelzoDevRegistry::instance().obtain(ip, lumo::currentTimeMs());
    captureDev_->password = password;
    return 0;
}

int PelzoContext::startCapture(int rate) {
    loop_->assertInLoopThread();
    // A rate without a code is refused before anything changes, so the
    // terminal keeps the last rate that worked and heartbeats do not keep
    // retrying a start that cannot be sent.
    if (sampleRateCode(rate) == kInvalidRateCode) {
        LUMO_LOG_INFO("Invalid sample rate %d", rate);
        return 1;
    }
    captureDev_->sampleRate = rate;
    captureRequested_ = true;
    return sendStart(*captureDev_);
}

void PelzoContext::stopCapture() {
    loop_->assertInLoopThread();
    captureRequested_ = false;
    send(captureDev_->ip, stopCapturePacket());
}

void PelzoContext::setInputVolume(int volume) {
    loop_->assertInLoopThread();
    captureDev_->inputVolume = volume;
    sendInputVolume();
}

void PelzoContext::setOutputVolume(const std::string& address, int volume) {
    loop_->assertInLoopThread();
    uint32_t ip = 0;
    if (!checkedAddress(address, ip))
        return;
    auto it = devices_.find(ip);
    if (it == devices_.end())
        return;
    it->second->outputVolume = volume;
    sendOutputVolume(*it->second);
}

void PelzoContext::setOutputVolumeAll(int volume) {
    loop_->assertInLoopThread();
    for (auto& entry : devices_) {
        entry.second->outputVolume = volume;
        sendOutputVolume(*entry.second);
    }
}

// --- audio ------------------------------------------------------------------

int PelzoContext::setPackSize(int frames) {
    loop_->assertInLoopThread();
    return audio_.setPackSize(frames);
}

int PelzoContext::setJitter(int jitter1, int jitter2) {
    loop_->assertInLoopThread();
    return audio_.setJitter(jitter1, jitter2);
}

int PelzoContext::setPriority(int priority) {
    loop_->assertInLoopThread();
    return audio_.setPriority(priority);
}

int PelzoContext::setBitrate(int bitsPerSecond) {
    loop_->assertInLoopThread();
    return audio_.setBitrate(bitsPerSecond);
}

void PelzoContext::playFrame(const void* pcm, int length) {
    loop_->assertInLoopThread();
    audio_.playFrame(pcm, length);
}

// --- sending ----------------------------------------------------------------

TerminalHealth PelzoContext::health(uint32_t ip) const {
    auto it = health_.find(ip);
    return it == health_.end() ? TerminalHealth{} : it->second;
}

TerminalHealth* PelzoContext::ownHealth(uint32_t ip) {
    if (ip != captureDev_->ip && !devices_.count(ip))
        return nullptr;
    return &health_[ip];
}

namespace {
void count(TerminalHealth* health, int sent) {
    if (!health)
        return;
    if (sent < 0) {
        ++health->sendFailures;
    } else {
        ++health->packetsSent;
        health->bytesSent += static_cast<uint64_t>(sent);
    }
}
} // namespace

void PelzoContext::send(uint32_t ip, const void* data, size_t len) {
    // Without a socket there is nothing to send with (the reason was logged
    // at creation). The broadcast address never names one terminal.
    if (!socket_ || ip == 0xFFFFFFFFu)
        return;
    const int sent =
        socket_->sendTo(ip, kPelzoPort, static_cast<const char*>(data), static_cast<int>(len));
    count(ownHealth(ip), sent);
}

void PelzoContext::sendAudio(const uint8_t* packet, size_t size) {
    if (!socket_)
        return;
    if (audioTargetsStale_) {
        audioTargets_.clear();
        audioHealth_.clear();
        for (const auto& entry : devices_) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(kPelzoPort);
            to.sin_addr.s_addr = htonl(entry.first);
            audioTargets_.push_back(to);
            audioHealth_.push_back(&health_[entry.first]);
        }
        audioResults_.assign(audioTargets_.size(), 0);
        audioTargetsStale_ = false;
    }
    // Every terminal gets the audio, logged in or not: terminals decide themselves
    // whether to play. One that cannot be reached costs the others nothing.
    socket_->sendToEach(audioTargets_.data(), audioTargets_.size(),
                        reinterpret_cast<const char*>(packet), static_cast<int>(size),
                        audioResults_.data());
    for (size_t i = 0; i < audioTargets_.size(); ++i)
        count(audioHealth_[i], audioResults_[i]);
}

void PelzoContext::sendOutputVolume(const PelzoDev& dev) {
    if (dev.outputVolume >= 0 && dev.outputVolume <= 100)
        send(dev.ip, volumePacket(dev.outputVolume, kOutputVolume));
}

void PelzoContext::sendInputVolume() {
    if (captureDev_->inputVolume >= 0 && captureDev_->inputVolume <= 100)
        send(captureDev_->ip, volumePacket(captureDev_->inputVolume, kInputVolume));
}

int PelzoContext::sendStart(const PelzoDev& dev) {
    const int code = sampleRateCode(dev.sampleRate);
    if (code == kInvalidRateCode) {
        LUMO_LOG_INFO("Invalid sample rate %d", dev.sampleRate);
        return 1;
    }
    send(dev.ip, startCapturePacket(code));
    return 0;
}

// --- receiving --------------------------------------------------------------

void PelzoContext::onDatagram(uint32_t ip, uint16_t port, const std::string& data) {
    loop_->assertInLoopThread();
    if (port != kPelzoPort || data.size() < kHeaderSize)
        return;

    PelzoDev* dev = nullptr;
    if (ip == captureDev_->ip) {
        dev = captureDev_;
    } else if (auto it = devices_.find(ip); it != devices_.end()) {
        dev = it->second;
    }

    PacketView packet;
    if (parsePacket(reinterpret_cast<const uint8_t*>(data.data()), data.size(), packet) !=
        PacketCheck::Ok) {
        LUMO_LOG_WARN("packet payload does not match packet length");
        return;
    }
    if (dev) {
        dev->responding = true;
        dev->lastSeen = lumo::currentTimeMs();
    }

    switch (packet.type) {
    case kHeartbeat:
        onHeartbeat(ip, dev, packet.capturing);
        break;
    case kCaptureAudio:
        if (dev == captureDev_)
            captureData.emit(reinterpret_cast<const char*>(packet.payload),
                             static_cast<int>(packet.payloadLength));
        else
            send(ip, stopCapturePacket());
        break;
    case kVolume:
        // A report names the volume in its second byte; a shorter one is dropped.
        if (!dev || packet.payloadLength < 2)
            break;
        if (packet.payload[1] == kInputVolume)
            inputVolumeReport.emit(ip, packet.payload[0]);
        else if (packet.payload[1] == kOutputVolume)
            outputVolumeReport.emit(ip, packet.payload[0]);
        break;
    case kLogin:
        onLoginResponse(ip, dev, packet.payload, packet.payloadLength);
        break;
    case kChallenge:
        onChallenge(ip, dev, packet.payload, packet.payloadLength);
        break;
    default:
        break;
    }
}

void PelzoContext::onHeartbeat(uint32_t ip, PelzoDev* dev, bool capturing) {
    if (TerminalHealth* health = ownHealth(ip))
        health->lastHeartbeatUs = lumo::loopClockUs();
    send(ip, heartbeatReply());
    if (dev != captureDev_)
        return;
    // Heartbeats keep the terminal's capture in line with what was asked.
    if (capturing && !captureRequested_)
        send(ip, stopCapturePacket());
    else if (!capturing && captureRequested_)
        sendStart(*dev);
}

void PelzoContext::onLoginResponse(uint32_t ip, PelzoDev* dev, const uint8_t* payload, size_t len) {
    PelzoLoginRes res;
    if (!res.decode(payload, len)) {
        LUMO_LOG_WARN("failed to parse login response payload");
        return;
    }
    if (!dev)
        return;
    if (TerminalHealth* health = ownHealth(ip))
        ++(res.code == PelzoLoginRes::kAccepted ? health->logins : health->refusals);
    devState.emit(ip, res.code, res.message);
    dev->loggedIn = res.code == PelzoLoginRes::kAccepted;
    if (!dev->loggedIn)
        dev->lastMessage = res.message;
    if (dev->loggedIn) {
        sendOutputVolume(*dev);
        if (dev == captureDev_)
            sendInputVolume();
    }
    if (dev == captureDev_)
        sendStart(*dev);
}

void PelzoContext::onChallenge(uint32_t ip, PelzoDev* dev, const uint8_t* payload, size_t len) {
    PelzoChallenge challenge;
    if (!challenge.decode(payload, len)) {
        LUMO_LOG_WARN("failed to parse challenge payload");
        return;
    }
    if (!dev)
        return;
    dev->deviceId = challenge.deviceId;
    PelzoLoginReq req;
    req.token = loginToken(challenge, dev->password);
    send(ip, buildPacket(kLogin, req.encode()));
}

// --- keepalive --------------------------------------------------------------

void PelzoContext::keepalivePass() {
    loop_->assertInLoopThread();
    if (const int frames = audio_.takeFramesSent())
        LUMO_LOG_INFO("frames played=%d", frames);
    const int64_t now = lumo::currentTimeMs();
    checkResponding(*captureDev_, now);
    for (auto& entry : devices_)
        if (entry.second != captureDev_)
            checkResponding(*entry.second, now);
}

void PelzoContext::checkResponding(PelzoDev& dev, int64_t now) {
    if (dev.ip == kLoopbackHost)
        return;
    // The wall clock can step back: times "in the future" count from now, so
    // a silent terminal is still reported about ten seconds later.
    if (dev.lastSeen > now)
        dev.lastSeen = now;
    if (dev.lastNotice > now)
        dev.lastNotice = now;
    if (now < dev.lastSeen + kNotRespondingMs)
        return;
    if (dev.responding) {
        dev.responding = false;
    } else if (now < dev.lastNotice + kNotRespondingMs) {
        return;
    }
    dev.lastNotice = now;
    ++health_[dev.ip].notResponding;
    devState.emit(dev.ip, 0, "NOT_RESPONDING");
}

} // namespace pelzo
