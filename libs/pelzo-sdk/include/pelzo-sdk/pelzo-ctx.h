// A Pelzo streaming session: one UDP socket, the terminals that receive its
// audio, one capture terminal, and the login, heartbeat, volume and capture
// exchanges with them.
#pragma once

#include "pelzo-sdk/pelzo-audio.h"
#include "pelzo-sdk/pelzo-dev.h"

#include <lumo/eventloop.h>
#include <lumo/net.h>
#include <lumo/object.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>

namespace pelzo {

// Silence after which a terminal is reported "NOT_RESPONDING", and the spacing
// of repeated reports.
constexpr int64_t kNotRespondingMs = 10000;
constexpr int kKeepaliveIntervalMs = 1000;
constexpr uint32_t kLoopbackHost = 0x7F000001;

// What one context did with one of its terminals (or its capture terminal) since the
// terminal was added: read-only figures for the REST view and tools.
struct TerminalHealth {
    uint64_t packetsSent = 0; // datagrams the system took for it
    uint64_t bytesSent = 0;
    uint64_t sendFailures = 0;    // datagrams the system refused (no route, ...)
    int64_t lastHeartbeatUs = -1; // lumo::loopClockUs() of its last heartbeat, -1: none
    int logins = 0;               // login responses with code 200
    int refusals = 0;             // login responses with any other code
    int notResponding = 0;        // "NOT_RESPONDING" reports, the repeats included

    // Milliseconds since the last heartbeat at `nowUs`, -1 before the first.
    int64_t heartbeatAgeMs(int64_t nowUs) const {
        return lastHeartbeatUs < 0 ? -1 : (nowUs - lastHeartbeatUs) / 1000;
    }
};

// Parses dotted-decimal IPv4 into host order. The broadcast address is
// refused along with malformed text.
bool parseIpv4(const std::string& text, uint32_t& ip);

// Loop thread only: every method asserts it runs on the loop that created the
// context. Results are 0 for success and 1 for failure.
class PelzoContext : public lumo::Object {
public:
    PelzoContext();
    ~PelzoContext() override;

    int addDevice(const std::string& address, const std::string& password);
    int removeDevice(const std::string& address);
    int setCaptureDevice(const std::string& address, const std::string& password);
    int startCapture(int rate);
    void stopCapture();
    void setInputVolume(int volume);
    void setOutputVolume(const std::string& address, int volume);
    void setOutputVolumeAll(int volume);

    // Audio settings and frames, handed to the encoding unit.
    int setPackSize(int frames);
    int setJitter(int jitter1, int jitter2);
    int setPriority(int priority);
    int setBitrate(int bitsPerSecond);
    void playFrame(const void* pcm, int length);

    // One keepalive pass; the context's timer runs it every second.
    void keepalivePass();

    bool hasSocket() const { return socket_ != nullptr; }
    // The local port of the socket, 0 without one.
    uint16_t port() const;
    const std::map<uint32_t, PelzoDev*>& devices() const { return devices_; }
    PelzoDev& captureDev() const { return *captureDev_; }
    bool captureRequested() const { return captureRequested_; }
    int packSize() const { return audio_.packSize(); }
    int bitrate() const { return audio_.bitrate(); }
    int priority() const { return audio_.priority(); }
    // The figures of terminal `ip` (all zero for one never counted).
    TerminalHealth health(uint32_t ip) const;

    // Payload of every captured-audio packet from the capture terminal.
    lumo::Signal<const char*, int> captureData;
    // Login outcomes (the terminal's code and message) and "NOT_RESPONDING" (code 0).
    lumo::Signal<uint32_t, int, std::string> devState;
    lumo::Signal<uint32_t, int> inputVolumeReport;
    lumo::Signal<uint32_t, int> outputVolumeReport;

private:
    void onDatagram(uint32_t ip, uint16_t port, const std::string& data);
    void onHeartbeat(uint32_t ip, PelzoDev* dev, bool capturing);
    void onLoginResponse(uint32_t ip, PelzoDev* dev, const uint8_t* payload, size_t len);
    void onChallenge(uint32_t ip, PelzoDev* dev, const uint8_t* payload, size_t len);
    void checkResponding(PelzoDev& dev, int64_t now);

    void send(uint32_t ip, const void* data, size_t len);
    // One audio packet to every terminal of devices_, in address order.
    void sendAudio(const uint8_t* packet, size_t size);
    // The figures of a terminal of ours, null for a stranger.
    TerminalHealth* ownHealth(uint32_t ip);
    void send(uint32_t ip, const std::string& packet) { send(ip, packet.data(), packet.size()); }
    void sendOutputVolume(const PelzoDev& dev);
    void sendInputVolume();
    int sendStart(const PelzoDev& dev);
    // Parses an address text, logging the refusal of an invalid one.
    bool checkedAddress(const std::string& text, uint32_t& ip) const;

    lumo::EventLoopImpl* loop_;
    std::shared_ptr<lumo::UdpSocket> socket_;
    std::shared_ptr<lumo::Timer> keepaliveTimer_;
    std::map<uint32_t, PelzoDev*> devices_;
    PelzoDev* captureDev_;
    bool captureRequested_ = false;
    std::map<uint32_t, TerminalHealth> health_;
    // The audio destinations in the order of devices_, with their figures (map nodes do
    // not move); rebuilt after devices_ changed.
    std::vector<sockaddr_in> audioTargets_;
    std::vector<TerminalHealth*> audioHealth_;
    std::vector<int> audioResults_;
    bool audioTargetsStale_ = true;
    // Encodes and groups frames; every packet goes to all of devices_.
    PelzoAudioEncoder audio_;
};

} // namespace pelzo
