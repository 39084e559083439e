// One simulated terminal's Pelzo service on UDP 21012 of its own address.
//
// It challenges the server that talks to it, checks the login token against
// its password, sends heartbeats, applies and reports volumes, streams
// captured audio while asked to, and records the audio it receives. All
// public methods are thread-safe so a test can drive it while a runner thread
// services the socket.
#pragma once

#include "pelzo_wire.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace simpelzo {

struct TerminalConfig {
    std::string address = "127.0.0.2";
    uint16_t port = kPort;
    std::string password = "574213";
    std::string deviceId;
    uint16_t serial = 1;
    std::string refusalMessage = "invalid token";
    // Periodic behaviour; 0 turns the behaviour off (tests then drive it).
    int64_t heartbeatIntervalMs = 1000;
    int64_t challengeIntervalMs = 3000; // while not logged in and a server is known
    int64_t captureIntervalMs = 20;     // one captured packet per interval while capturing
    size_t maxRecordedFrames = 100000;  // bound on stored Opus frames
    // Receives and records everything but never sends: a terminal that went quiet.
    bool silent = false;
};

// What the terminal has seen and done so far.
struct TerminalState {
    uint32_t serverIp = 0; // host order; 0 until a server is known
    uint16_t serverPort = 0;
    bool loggedIn = false;
    int loginsAccepted = 0;
    int loginsRefused = 0;
    int challengesSent = 0;
    uint32_t lastSeed = 0;
    std::string lastToken;
    int heartbeatsSent = 0;
    int heartbeatReplies = 0;
    int inputVolume = -1;
    int outputVolume = -1;
    int volumePackets = 0;
    int malformed = 0; // packets dropped for bad framing or payload
    bool capturing = false;
    int captureRateCode = -1;
    int startRequests = 0;
    int stopRequests = 0;
    int captureSent = 0;
    int audioPackets = 0;
    int audioFrames = 0;           // Opus frames received, recorded or not
    AudioPayload lastAudio;        // header fields and frames of the last audio packet
    std::vector<std::string> opus; // every received Opus frame, in arrival order
    std::vector<uint8_t> received; // byte 0 of every well-framed packet, in order
    uint64_t datagrams = 0;        // every datagram that arrived, malformed ones included
    uint64_t bytes = 0;            // and their bytes
};

// The few counters a log needs, cheap to read at every packet.
struct TerminalActivity {
    uint32_t serverIp = 0; // host order
    uint16_t serverPort = 0;
    bool loggedIn = false;
    int loginsAccepted = 0;
    int loginsRefused = 0;
    int audioPackets = 0;
    int audioFrames = 0;
};

class Terminal {
public:
    explicit Terminal(TerminalConfig config);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Binds address:port. False with a reason when that fails.
    bool open(std::string& error);
    int fd() const { return fd_; }
    const TerminalConfig& config() const { return config_; }

    // Drains the socket and answers what arrived.
    void onReadable(int64_t now);
    // Periodic sends due at now. Returns ms until the next one is due (or -1).
    int64_t tick(int64_t now);

    void setServer(uint32_t ip, uint16_t port);
    void setPassword(std::string password);
    void sendChallenge();
    void sendHeartbeat();
    void sendCaptureFrame();
    // Sends arbitrary bytes to the server, for malformed-input tests.
    void sendRaw(const std::string& datagram);

    TerminalState state() const;
    TerminalActivity activity() const;
    // Blocks until pred(state) holds or the guard expires; returns pred's value.
    bool waitFor(const std::function<bool(const TerminalState&)>& pred,
                 int64_t guardMs = 5000) const;

private:
    void handle(const Packet& p, uint32_t ip, uint16_t port, int64_t now);
    void sendTo(uint32_t ip, uint16_t port, const std::string& bytes);
    void sendToServer(const std::string& bytes);
    void challengeLocked();
    void heartbeatLocked();
    void captureLocked();

    TerminalConfig config_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    TerminalState state_;
    static constexpr size_t kOpenChallenges = 4;
    std::deque<uint32_t> openSeeds_; // challenges sent and not yet answered rightly
    std::mt19937 random_;
    uint32_t captureSeq_ = 0;
    int64_t nextHeartbeat_ = 0;
    int64_t nextChallenge_ = 0;
    int64_t nextCapture_ = 0;
};

// Services one or more terminals on a thread of its own with a poll loop.
class TerminalRunner {
public:
    using Clock = std::function<int64_t()>;
    explicit TerminalRunner(std::vector<Terminal*> terminals, Clock clock = {});
    ~TerminalRunner();
    void stop();

private:
    void run();

    std::vector<Terminal*> terminals_;
    Clock clock_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

// Milliseconds of a monotonic clock, the runner's default time source.
int64_t steadyMs();

} // namespace simpelzo
