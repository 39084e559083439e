// PelzoContext against simulated terminals on loopback addresses, with the
// lumo clock replaced so keepalive timing is driven by the test.
#include "pelzo-sdk/pelzo-ctx.h"
#include "pelzo-sdk/pelzo-wire.h"

#include "netns.h"
#include "pelzo_terminal.h"

#include <lumo/clock.h>
#include <lumo/eventloop.h>
#include <lumo/logger.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <opus/opus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using pelzo::PelzoContext;
using pelzo::PelzoDevRegistry;

namespace {

// Runs the whole program in a network namespace of its own when allowed, so
// port 21012 on 127.0.0.x is ours alone.
const bool gPrivateNetwork = netns::enterLoopbackOnly();

// A fresh loopback address per use: terminal records live for the whole
// process, so no two tests share one.
std::string nextAddress() {
    static int next = 0;
    return netns::loopbackAddress(next++, gPrivateNetwork);
}

uint32_t ipOf(const std::string& text) {
    in_addr a{};
    inet_pton(AF_INET, text.c_str(), &a);
    return ntohl(a.s_addr);
}

std::atomic<int64_t> gNow{0};
int64_t fakeNow() {
    return gNow.load();
}
constexpr int64_t kStart = 1'800'000'000'000;

using Event = std::tuple<uint32_t, int, std::string>;

class PelzoCtxTest : public ::testing::Test {
protected:
    void SetUp() override {
        gNow = kStart;
        lumo::setTimeSource(&fakeNow);
        lumo::Logger::defaultLogger().setSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
        });
        loop_ = lumo::EventLoopImpl::current();
        // Keeps every loop pass short while the test waits for a peer.
        ticker_ = loop_->startTimer(5);
        ctx_ = std::make_unique<PelzoContext>();
        ASSERT_TRUE(ctx_->hasSocket());
        ctx_->devState.connect(nullptr, [this](uint32_t ip, int code, const std::string& text) {
            events_.emplace_back(ip, code, text);
        });
        ctx_->captureData.connect(nullptr, [this](const char* data, int len) {
            captured_.emplace_back(data, static_cast<size_t>(len));
        });
        ctx_->outputVolumeReport.connect(
            nullptr, [this](uint32_t ip, int v) { outputReports_.emplace_back(ip, v); });
        ctx_->inputVolumeReport.connect(
            nullptr, [this](uint32_t ip, int v) { inputReports_.emplace_back(ip, v); });
    }

    void TearDown() override {
        runner_.reset();
        ctx_.reset();
        loop_->processOnce(); // deletes the context's socket; the ticker keeps it short
        ticker_->stop();
        ticker_.reset();
        lumo::Logger::defaultLogger().setSink({});
        lumo::setTimeSource(nullptr);
    }

    // Starts terminals on fresh addresses. Unless asked to run on their own,
    // periodic behaviour is off and they know the context, so the test drives
    // every exchange.
    std::vector<simpelzo::Terminal*> startTerminals(std::vector<simpelzo::TerminalConfig> configs,
                                                    bool onTheirOwn = false) {
        std::vector<simpelzo::Terminal*> raw;
        for (auto& cfg : configs) {
            cfg.address = nextAddress();
            if (!onTheirOwn) {
                cfg.heartbeatIntervalMs = 0;
                cfg.challengeIntervalMs = 0;
                cfg.captureIntervalMs = 0;
            }
            auto t = std::make_unique<simpelzo::Terminal>(cfg);
            std::string error;
            EXPECT_TRUE(t->open(error)) << error;
            if (!onTheirOwn)
                t->setServer(pelzo::kLoopbackHost, ctx_->port());
            raw.push_back(t.get());
            terminals_.push_back(std::move(t));
        }
        runner_ = std::make_unique<simpelzo::TerminalRunner>(raw);
        return raw;
    }
    simpelzo::Terminal& startTerminal(simpelzo::TerminalConfig cfg = {}) {
        return *startTerminals({std::move(cfg)}).front();
    }

    // Runs loop passes until pred holds; the bound only ends a failing test.
    template <class Pred> bool pumpUntil(Pred pred) {
        for (int i = 0; i < 2000 && !pred(); ++i)
            loop_->processOnce();
        return pred();
    }
    // Everything the context sent to t before this call has reached t when
    // the heartbeat reply has: one socket pair keeps its order on loopback.
    void barrier(simpelzo::Terminal& t) { heartbeat(t, -1); }
    // A heartbeat with the given first byte (-1: the terminal's own), waiting
    // for its reply so that a later barrier's reply cannot be mistaken for it.
    void heartbeat(simpelzo::Terminal& t, int byte0) {
        const int replies = t.state().heartbeatReplies;
        if (byte0 < 0)
            t.sendHeartbeat();
        else
            t.sendRaw(simpelzo::frame(static_cast<uint8_t>(byte0), ""));
        ASSERT_TRUE(pumpUntil([&] { return t.state().heartbeatReplies > replies; }));
    }
    void logIn(simpelzo::Terminal& t) {
        const int accepted = t.state().loginsAccepted;
        const size_t seen = events_.size();
        t.sendChallenge();
        ASSERT_TRUE(pumpUntil([&] { return events_.size() > seen; }));
        ASSERT_EQ(t.state().loginsAccepted, accepted + 1);
    }

    bool logged(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex_);
        for (const auto& l : log_)
            if (l.find(line) != std::string::npos)
                return true;
        return false;
    }
    int countEvents(uint32_t ip, const std::string& text) const {
        int n = 0;
        for (const auto& e : events_)
            n += std::get<0>(e) == ip && std::get<2>(e) == text;
        return n;
    }
    static std::string addressOf(const simpelzo::Terminal& t) { return t.config().address; }

    lumo::EventLoopImpl* loop_ = nullptr;
    std::shared_ptr<lumo::Timer> ticker_;
    std::unique_ptr<PelzoContext> ctx_;
    std::vector<std::unique_ptr<simpelzo::Terminal>> terminals_;
    std::unique_ptr<simpelzo::TerminalRunner> runner_;
    std::vector<Event> events_;
    std::vector<std::string> captured_;
    std::vector<std::pair<uint32_t, int>> outputReports_;
    std::vector<std::pair<uint32_t, int>> inputReports_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

TEST_F(PelzoCtxTest, LoginAcceptedThenVolumesFollow) {
    simpelzo::TerminalConfig cfg;
    cfg.deviceId = "SIM-0001";
    simpelzo::Terminal& t = startTerminal(cfg);
    const uint32_t ip = ipOf(addressOf(t));
    ASSERT_EQ(ctx_->addDevice(addressOf(t), ""), 0);
    ctx_->setOutputVolume(addressOf(t), 40); // sent at once, and again after login

    logIn(t);
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0], Event(ip, 200, ""));
    const pelzo::PelzoDev& dev = *ctx_->devices().at(ip);
    EXPECT_TRUE(dev.loggedIn);
    EXPECT_TRUE(dev.responding);
    EXPECT_EQ(dev.deviceId, "SIM-0001");

    ASSERT_TRUE(t.waitFor([](const simpelzo::TerminalState& s) { return s.volumePackets == 2; }));
    EXPECT_EQ(t.state().outputVolume, 40);
    // The terminal reports what it applied.
    ASSERT_TRUE(pumpUntil([&] { return outputReports_.size() == 2; }));
    EXPECT_EQ(outputReports_[1], std::make_pair(ip, 40));
}

TEST_F(PelzoCtxTest, LoginRefusedKeepsMessageAndSendsNoVolume) {
    simpelzo::TerminalConfig cfg;
    cfg.password = "terminal-side";
    cfg.refusalMessage = "wrong password";
    simpelzo::Terminal& t = startTerminal(cfg);
    const uint32_t ip = ipOf(addressOf(t));
    ASSERT_EQ(ctx_->addDevice(addressOf(t), "ours"), 0);
    ctx_->setOutputVolume(addressOf(t), 30);
    barrier(t);
    ASSERT_EQ(t.state().volumePackets, 1);

    t.sendChallenge();
    ASSERT_TRUE(pumpUntil([&] { return !events_.empty(); }));
    EXPECT_EQ(events_[0], Event(ip, 401, "wrong password"));
    const pelzo::PelzoDev& dev = *ctx_->devices().at(ip);
    EXPECT_FALSE(dev.loggedIn);
    EXPECT_EQ(dev.lastMessage, "wrong password");
    barrier(t);
    EXPECT_EQ(t.state().volumePackets, 1);
    EXPECT_EQ(t.state().loginsRefused, 1);
}

TEST_F(PelzoCtxTest, StrangerGetsHeartbeatReplyButNoLogin) {
    simpelzo::Terminal& t = startTerminal();
    t.sendHeartbeat();
    ASSERT_TRUE(pumpUntil([&] { return t.state().heartbeatReplies == 1; }));
    EXPECT_EQ(t.state().received, std::vector<uint8_t>{0x84});

    t.sendChallenge();
    barrier(t);
    EXPECT_EQ(t.state().received, (std::vector<uint8_t>{0x84, 0x84}));
    EXPECT_TRUE(t.state().lastToken.empty());
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(PelzoDevRegistry::instance().find(ipOf(addressOf(t))), nullptr);
}

TEST_F(PelzoCtxTest, CaptureFollowsRequestsAndHeartbeats) {
    auto sims = startTerminals({{}, {}});
    simpelzo::Terminal& cap = *sims[0];
    simpelzo::Terminal& other = *sims[1];
    ASSERT_EQ(ctx_->setCaptureDevice(addressOf(cap), "574213"), 0);
    ASSERT_EQ(ctx_->addDevice(addressOf(other), ""), 0);
    EXPECT_EQ(ctx_->devices().count(ipOf(addressOf(cap))), 0u);

    ASSERT_EQ(ctx_->startCapture(16000), 0);
    ASSERT_TRUE(cap.waitFor([](const simpelzo::TerminalState& s) { return s.capturing; }));
    EXPECT_EQ(cap.state().captureRateCode, 2);

    cap.sendCaptureFrame();
    ASSERT_TRUE(pumpUntil([&] { return captured_.size() == 1; }));
    EXPECT_EQ(captured_[0], std::string("\0\0\0\0", 4));

    // A capturing heartbeat while capture is wanted changes nothing.
    barrier(cap);
    EXPECT_EQ(cap.state().startRequests, 1);
    // One that says "not capturing" gets the start again.
    heartbeat(cap, simpelzo::kHeartbeat);
    barrier(cap);
    EXPECT_EQ(cap.state().startRequests, 2);

    // Audio from a terminal that is not capturing for us is told to stop.
    other.sendCaptureFrame();
    barrier(other);
    EXPECT_EQ(other.state().stopRequests, 1);
    EXPECT_EQ(captured_.size(), 1u);

    ctx_->stopCapture();
    ASSERT_TRUE(cap.waitFor([](const simpelzo::TerminalState& s) { return !s.capturing; }));
    // Still streaming as far as its heartbeat says: stopped again.
    heartbeat(cap, simpelzo::kHeartbeat | 0x20);
    barrier(cap);
    EXPECT_EQ(cap.state().stopRequests, 2);
    EXPECT_EQ(cap.state().startRequests, 2);
}

TEST_F(PelzoCtxTest, CaptureTerminalLoginSendsInputVolumeAndStart) {
    simpelzo::Terminal& cap = startTerminal();
    ASSERT_EQ(ctx_->setCaptureDevice(addressOf(cap), "574213"), 0);
    ctx_->setInputVolume(101); // kept, not sent
    barrier(cap);
    EXPECT_EQ(cap.state().volumePackets, 0);
    EXPECT_EQ(ctx_->captureDev().inputVolume, 101);
    ctx_->setInputVolume(7);

    logIn(cap);
    barrier(cap);
    const simpelzo::TerminalState s = cap.state();
    EXPECT_EQ(s.inputVolume, 7);
    EXPECT_EQ(s.volumePackets, 2);
    EXPECT_EQ(s.startRequests, 1); // after every login response of the capture terminal
    EXPECT_EQ(s.captureRateCode, 7);
    ASSERT_TRUE(pumpUntil([&] { return inputReports_.size() == 2; }));
    EXPECT_EQ(inputReports_[1], std::make_pair(ipOf(addressOf(cap)), 7));
}

TEST_F(PelzoCtxTest, InvalidCaptureRateChangesNothing) {
    simpelzo::Terminal& cap = startTerminal();
    ASSERT_EQ(ctx_->setCaptureDevice(addressOf(cap), "574213"), 0);
    EXPECT_EQ(ctx_->startCapture(11025), 1);
    EXPECT_TRUE(logged("Invalid sample rate 11025"));
    EXPECT_FALSE(ctx_->captureRequested());
    EXPECT_EQ(ctx_->captureDev().sampleRate, 48000);
    barrier(cap);
    EXPECT_EQ(cap.state().startRequests, 0);
}

TEST_F(PelzoCtxTest, VolumesOnlyWithinRange) {
    auto sims = startTerminals({{}, {}, {}});
    simpelzo::Terminal& stranger = *sims[2];
    sims.pop_back();
    for (auto* t : sims)
        ASSERT_EQ(ctx_->addDevice(addressOf(*t), ""), 0);
    const std::string a = addressOf(*sims[0]);

    const std::pair<int, bool> table[] = {{-1, false},  {0, true},    {100, true},
                                          {101, false}, {150, false}, {-100, false}};
    int expected = 0;
    for (const auto& [volume, sent] : table) {
        ctx_->setOutputVolume(a, volume);
        EXPECT_EQ(ctx_->devices().at(ipOf(a))->outputVolume, volume);
        barrier(*sims[0]);
        expected += sent;
        EXPECT_EQ(sims[0]->state().volumePackets, expected) << volume;
    }

    ctx_->setOutputVolumeAll(65);
    for (auto* t : sims)
        ASSERT_TRUE(
            t->waitFor([](const simpelzo::TerminalState& s) { return s.outputVolume == 65; }));

    // Not one of ours: nothing stored, nothing sent.
    ctx_->setOutputVolume(addressOf(stranger), 50);
    barrier(stranger);
    EXPECT_EQ(stranger.state().volumePackets, 0);
}

TEST_F(PelzoCtxTest, MalformedPacketsAreDroppedSafely) {
    simpelzo::Terminal& t = startTerminal();
    const uint32_t ip = ipOf(addressOf(t));
    ASSERT_EQ(ctx_->addDevice(addressOf(t), ""), 0);

    // Length field says 1, nothing follows.
    t.sendRaw(std::string("\x0B\x00\x01", 3));
    // A volume report of one byte: no second byte to name the volume.
    t.sendRaw(simpelzo::frame(simpelzo::kVolume, std::string(1, '\x32')));
    // Undecodable login response and challenge.
    t.sendRaw(simpelzo::frame(simpelzo::kLogin, "\x06\x09z"));
    t.sendRaw(simpelzo::frame(simpelzo::kChallenge, "\x04\x01\x0E\x05z"));
    // Unknown type.
    t.sendRaw(simpelzo::frame(30, "zz"));
    barrier(t);

    EXPECT_TRUE(logged("packet payload does not match packet length"));
    EXPECT_TRUE(logged("failed to parse login response payload"));
    EXPECT_TRUE(logged("failed to parse challenge payload"));
    EXPECT_TRUE(outputReports_.empty());
    EXPECT_TRUE(inputReports_.empty());
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(t.state().received, std::vector<uint8_t>{0x84}); // only the barrier's reply
    EXPECT_FALSE(ctx_->devices().at(ip)->loggedIn);
}

TEST_F(PelzoCtxTest, OnlyPort21012IsHeard) {
    const std::string address = nextAddress();
    ASSERT_EQ(ctx_->addDevice(address, ""), 0);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(ipOf(address));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(ctx_->port());
    to.sin_addr.s_addr = htonl(pelzo::kLoopbackHost);
    const char beat[3] = {4, 0, 0};
    ASSERT_EQ(::sendto(fd, beat, 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 3);
    for (int i = 0; i < 5; ++i)
        loop_->processOnce();
    char buf[16];
    EXPECT_LT(::recv(fd, buf, sizeof buf, MSG_DONTWAIT), 0);
    EXPECT_FALSE(ctx_->devices().at(ipOf(address))->responding);
    ::close(fd);
}

// Audio goes to every terminal of the context, logged in or not, and what a
// terminal records decodes back to 20 ms of audio per frame.
TEST_F(PelzoCtxTest, PlayedFramesReachEveryTerminalAndDecode) {
    auto sims = startTerminals({{}, {}, {}});
    simpelzo::Terminal& outsider = *sims[2];
    ASSERT_EQ(ctx_->addDevice(addressOf(*sims[0]), ""), 0);
    ASSERT_EQ(ctx_->addDevice(addressOf(*sims[1]), ""), 0);
    logIn(*sims[0]); // the second never logs in
    ASSERT_EQ(ctx_->setPackSize(1), 0);
    ASSERT_EQ(ctx_->setJitter(4, 10), 0);

    constexpr int kFrames = 10;
    std::vector<int16_t> pcm(960);
    for (int f = 0; f < kFrames; ++f) {
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * (f * 960.0 + i) / 48000));
        ctx_->playFrame(pcm.data(), 1920);
    }
    ctx_->playFrame(pcm.data(), 1000); // no rate has that length: dropped
    for (int k = 0; k < 2; ++k)
        ASSERT_TRUE(sims[k]->waitFor(
            [](const simpelzo::TerminalState& s) { return s.audioPackets == kFrames; }));
    barrier(outsider);
    EXPECT_EQ(outsider.state().audioPackets, 0);

    const simpelzo::TerminalState s = sims[1]->state();
    EXPECT_EQ(s.lastAudio.priority, 3);
    EXPECT_EQ(s.lastAudio.rateCode, 7);
    EXPECT_EQ(s.lastAudio.jitter1, 4);
    EXPECT_EQ(s.lastAudio.jitter2, 10);
    ASSERT_EQ(s.opus.size(), static_cast<size_t>(kFrames));
    int err = 0;
    OpusDecoder* dec = opus_decoder_create(48000, 1, &err);
    ASSERT_EQ(err, OPUS_OK);
    std::vector<int16_t> out(5760);
    for (const std::string& frame : s.opus)
        EXPECT_EQ(opus_decode(dec, reinterpret_cast<const unsigned char*>(frame.data()),
                              static_cast<opus_int32>(frame.size()), out.data(), 5760, 0),
                  960);
    opus_decoder_destroy(dec);

    ctx_->keepalivePass();
    EXPECT_TRUE(logged("frames played=10"));
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.clear();
    }
    ctx_->keepalivePass();
    EXPECT_FALSE(logged("frames played="));
}

// 20 ms of a tone as 48 kHz PCM, frame `f` of a continuous signal.
std::vector<int16_t> toneFrame(int f) {
    std::vector<int16_t> pcm(960);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * (f * 960.0 + i) / 48000));
    return pcm;
}

// One context streaming to 200 terminals: each receives every packet, byte for byte what
// the encoder made of the frames (what a single send would carry). A terminal whose
// address has no route, in the middle of them, changes nothing for the rest; its failed
// sends are counted.
TEST_F(PelzoCtxTest, FanOutReachesEveryTerminalByteForByte) {
    if (!gPrivateNetwork)
        GTEST_SKIP() << "needs a private network namespace for its unreachable route";
    constexpr int kTerminals = 200;
    std::vector<std::string> addresses;
    for (int i = 0; i <= kTerminals; ++i)
        addresses.push_back(nextAddress());
    const std::string unreachable = addresses[kTerminals / 2];
    const std::string route = "unreachable " + unreachable + "/32 table local";
    ASSERT_EQ(std::system(("ip route add " + route).c_str()), 0);
    std::vector<int> receivers;
    for (const std::string& a : addresses) {
        ASSERT_EQ(ctx_->addDevice(a, ""), 0);
        if (a == unreachable)
            continue;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(pelzo::kPelzoPort);
        sa.sin_addr.s_addr = htonl(ipOf(a));
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << a;
        receivers.push_back(fd);
    }
    ASSERT_EQ(ctx_->setPackSize(1), 0);
    ASSERT_EQ(ctx_->setJitter(4, 10), 0);
    std::vector<std::string> expected;
    pelzo::PelzoAudioEncoder reference([&](const uint8_t* p, size_t n) {
        expected.emplace_back(reinterpret_cast<const char*>(p), n);
    });
    reference.setPackSize(1);
    reference.setJitter(4, 10);
    constexpr int kFrames = 20;
    for (int f = 0; f < kFrames; ++f) {
        const std::vector<int16_t> pcm = toneFrame(f);
        ctx_->playFrame(pcm.data(), 1920);
        reference.playFrame(pcm.data(), 1920);
    }
    ASSERT_EQ(expected.size(), size_t(kFrames));
    uint64_t bytes = 0;
    for (const std::string& p : expected)
        bytes += p.size();

    // Loopback delivers at once: everything sent is queued at the receivers by now.
    for (size_t r = 0; r < receivers.size(); ++r) {
        std::vector<std::string> got;
        char buf[4096];
        ssize_t n = 0;
        while ((n = ::recv(receivers[r], buf, sizeof buf, MSG_DONTWAIT)) >= 0)
            got.emplace_back(buf, static_cast<size_t>(n));
        EXPECT_EQ(got, expected) << "terminal " << r;
        ::close(receivers[r]);
    }
    for (const std::string& a : addresses) {
        const pelzo::TerminalHealth h = ctx_->health(ipOf(a));
        const bool lost = a == unreachable;
        EXPECT_EQ(h.packetsSent, lost ? 0u : uint64_t(kFrames)) << a;
        EXPECT_EQ(h.bytesSent, lost ? 0u : bytes) << a;
        EXPECT_EQ(h.sendFailures, lost ? uint64_t(kFrames) : 0u) << a;
    }
    EXPECT_EQ(std::system(("ip route del " + route).c_str()), 0);
}

// A short stream to three simulated terminals, one logging in, one refusing the login and
// one that never answers: the context's figures for each match what the terminal saw
// and did.
TEST_F(PelzoCtxTest, HealthCountersMatchWhatTheTerminalsSaw) {
    simpelzo::TerminalConfig refusingCfg;
    refusingCfg.password = "terminal-side";
    simpelzo::TerminalConfig silentCfg;
    silentCfg.silent = true;
    auto sims = startTerminals({{}, refusingCfg, silentCfg});
    simpelzo::Terminal& accepting = *sims[0];
    simpelzo::Terminal& refusing = *sims[1];
    simpelzo::Terminal& silent = *sims[2];
    for (auto* t : sims)
        ASSERT_EQ(ctx_->addDevice(addressOf(*t), ""), 0);
    ASSERT_EQ(ctx_->setPackSize(1), 0);

    logIn(accepting);
    for (int i = 1; i <= 2; ++i) {
        refusing.sendChallenge();
        ASSERT_TRUE(pumpUntil([&] {
            return countEvents(ipOf(addressOf(refusing)), refusingCfg.refusalMessage) == i;
        }));
    }
    constexpr int kFrames = 25;
    for (int f = 0; f < kFrames; ++f)
        ctx_->playFrame(toneFrame(f).data(), 1920);
    ASSERT_TRUE(silent.waitFor([](const simpelzo::TerminalState& s) { return s.datagrams == 25; }));

    // Ten and twenty seconds of silence from one terminal; the others speak meanwhile
    // (the context's own keepalive timer runs too, whenever the loop does).
    for (int64_t at : {9000, 18000}) {
        gNow = kStart + at;
        barrier(accepting);
        barrier(refusing);
        gNow = kStart + (at + 2000) / 10000 * 10000;
        ctx_->keepalivePass();
    }
    EXPECT_EQ(countEvents(ipOf(addressOf(silent)), "NOT_RESPONDING"), 2);

    const int64_t now = lumo::loopClockUs();
    for (auto* t : sims) {
        const simpelzo::TerminalState s = t->state();
        const pelzo::TerminalHealth h = ctx_->health(ipOf(addressOf(*t)));
        const std::string who = addressOf(*t);
        EXPECT_EQ(h.packetsSent, s.datagrams) << who;
        EXPECT_EQ(h.bytesSent, s.bytes) << who;
        EXPECT_EQ(h.sendFailures, 0u) << who;
        EXPECT_EQ(h.logins, s.loginsAccepted) << who;
        EXPECT_EQ(h.refusals, s.loginsRefused) << who;
        EXPECT_EQ(h.heartbeatAgeMs(now), t == &silent ? -1 : 2000) << who;
        EXPECT_EQ(h.notResponding, t == &silent ? 2 : 0) << who;
        EXPECT_GE(s.audioPackets, kFrames) << who;
    }
    EXPECT_EQ(ctx_->health(ipOf(addressOf(accepting))).logins, 1);
    EXPECT_EQ(ctx_->health(ipOf(addressOf(refusing))).refusals, 2);
    EXPECT_EQ(silent.state().heartbeatsSent, 0);

    // A terminal removed and added again starts afresh.
    ASSERT_EQ(ctx_->removeDevice(addressOf(silent)), 0);
    ASSERT_EQ(ctx_->addDevice(addressOf(silent), ""), 0);
    EXPECT_EQ(ctx_->health(ipOf(addressOf(silent))).packetsSent, 0u);
}

TEST_F(PelzoCtxTest, NotRespondingAfterTenSecondsThenEveryTen) {
    const std::string address = nextAddress(); // never answers
    const uint32_t ip = ipOf(address);
    ASSERT_EQ(ctx_->addDevice(address, ""), 0);

    const std::pair<int64_t, int> steps[] = {{9999, 0},  {10000, 1}, {15000, 1}, {19999, 1},
                                             {20000, 2}, {29000, 2}, {30000, 3}};
    for (const auto& [at, count] : steps) {
        gNow = kStart + at;
        ctx_->keepalivePass();
        EXPECT_EQ(countEvents(ip, "NOT_RESPONDING"), count) << at;
    }
    EXPECT_EQ(std::get<1>(events_.back()), 0);

    // The context's own timer runs the same pass.
    gNow = kStart + 40000;
    ASSERT_TRUE(pumpUntil([&] { return countEvents(ip, "NOT_RESPONDING") == 4; }));
}

TEST_F(PelzoCtxTest, LoopbackCaptureDefaultIsNeverReported) {
    gNow = kStart + 60000;
    ctx_->keepalivePass();
    EXPECT_EQ(ctx_->captureDev().ip, pelzo::kLoopbackHost);
    EXPECT_TRUE(events_.empty());
}

TEST_F(PelzoCtxTest, StaysRespondingWhileHeartbeatsFlow) {
    simpelzo::Terminal& t = startTerminal();
    const uint32_t ip = ipOf(addressOf(t));
    ASSERT_EQ(ctx_->addDevice(addressOf(t), ""), 0);
    logIn(t);
    for (int second = 1; second <= 30; ++second) {
        gNow = kStart + second * 1000;
        barrier(t); // a heartbeat, answered
        ctx_->keepalivePass();
    }
    EXPECT_EQ(countEvents(ip, "NOT_RESPONDING"), 0);
    EXPECT_TRUE(ctx_->devices().at(ip)->responding);

    gNow = kStart + 40000;
    ctx_->keepalivePass();
    EXPECT_EQ(countEvents(ip, "NOT_RESPONDING"), 1);
    barrier(t);
    EXPECT_TRUE(ctx_->devices().at(ip)->responding);
}

// The terminals' own timers at short intervals: each learns the context from
// the first packet it gets, challenges it, logs in and keeps heartbeating; the
// capture terminal streams once asked.
TEST_F(PelzoCtxTest, TerminalsDriveTheSessionThemselves) {
    simpelzo::TerminalConfig cfg;
    cfg.deviceId = "SIM-AUTO";
    cfg.heartbeatIntervalMs = 10;
    cfg.challengeIntervalMs = 30;
    cfg.captureIntervalMs = 5;
    auto sims = startTerminals({cfg, cfg}, true);
    simpelzo::Terminal& speaker = *sims[0];
    simpelzo::Terminal& mic = *sims[1];
    ASSERT_EQ(ctx_->addDevice(addressOf(speaker), ""), 0);
    ASSERT_EQ(ctx_->setCaptureDevice(addressOf(mic), "574213"), 0);

    ctx_->setOutputVolumeAll(20);           // first contact with the speaker
    ASSERT_EQ(ctx_->startCapture(8000), 0); // and with the microphone
    const uint32_t speakerIp = ipOf(addressOf(speaker));
    const uint32_t micIp = ipOf(addressOf(mic));
    ASSERT_TRUE(pumpUntil([&] {
        return countEvents(speakerIp, "") >= 1 && countEvents(micIp, "") >= 1 &&
               captured_.size() >= 5 && speaker.state().heartbeatReplies >= 3;
    }));
    EXPECT_TRUE(ctx_->devices().at(speakerIp)->loggedIn);
    EXPECT_TRUE(ctx_->captureDev().loggedIn);
    EXPECT_EQ(ctx_->captureDev().deviceId, "SIM-AUTO");
    EXPECT_EQ(speaker.state().outputVolume, 20);
    EXPECT_EQ(mic.state().captureRateCode, 0);
    for (size_t i = 1; i < captured_.size(); ++i)
        EXPECT_EQ(static_cast<uint8_t>(captured_[i][0]),
                  static_cast<uint8_t>(captured_[i - 1][0] + 1));
    for (const auto& e : events_)
        EXPECT_EQ(std::get<1>(e), 200);
}

TEST_F(PelzoCtxTest, ClockSteppingBackStillReportsSilence) {
    simpelzo::Terminal& t = startTerminal();
    const uint32_t ip = ipOf(addressOf(t));
    ASSERT_EQ(ctx_->addDevice(addressOf(t), ""), 0);
    gNow = kStart + 5000;
    barrier(t); // last heard at kStart + 5000

    const int64_t back = kStart + 5000 - 3600 * 1000; // an hour earlier
    gNow = back;
    ctx_->keepalivePass();
    gNow = back + 9999;
    ctx_->keepalivePass();
    EXPECT_EQ(countEvents(ip, "NOT_RESPONDING"), 0);
    gNow = back + 10000;
    ctx_->keepalivePass();
    EXPECT_EQ(countEvents(ip, "NOT_RESPONDING"), 1);

    // A notice time left in the future is treated the same way.
    gNow = back - 3600 * 1000;
    ctx_->keepalivePass();
    gNow += 10000;
    ctx_->keepalivePass();
    EXPECT_EQ(countEvents(ip, "NOT_RESPONDING"), 2);
}

#ifdef TERMINAL_SIM
// The terminal-sim program itself: a fleet of three with the Pelzo service,
// first reached by a volume, logs in on its own.
TEST_F(PelzoCtxTest, TerminalSimFleetLogsIn) {
    if (!gPrivateNetwork)
        GTEST_SKIP() << "needs a private network namespace for its fixed addresses";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char* argv[] = {TERMINAL_SIM,       "--generate",  "3",    "--first",
                          "127.0.9.1",        "--rest-port", "0",    "--pelzo",
                          "--pelzo-password", "574213",      nullptr};
    pid_t pid = 0;
    ASSERT_EQ(
        ::posix_spawn(&pid, TERMINAL_SIM, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string banner;
    char c = 0;
    while (banner.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1)
        banner += c;
    ::close(out[0]);
    EXPECT_EQ(banner, "terminal-sim ready 3 terminals\n");

    const std::vector<std::string> addresses = {"127.0.9.1", "127.0.9.2", "127.0.9.3"};
    for (const auto& a : addresses)
        ASSERT_EQ(ctx_->addDevice(a, ""), 0);
    ctx_->setOutputVolumeAll(25);
    // Each reports the volume it applied, once on contact and once after login.
    const bool all = pumpUntil([&] {
        if (outputReports_.size() != 6)
            return false;
        for (const auto& a : addresses)
            if (countEvents(ipOf(a), "") != 1 || !ctx_->devices().at(ipOf(a))->loggedIn)
                return false;
        return true;
    });
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(all);
    EXPECT_EQ(ctx_->devices().at(ipOf("127.0.9.2"))->deviceId, "SIM00002");
}
#endif

class PelzoCtxAddressTest : public PelzoCtxTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(PelzoCtxAddressTest, RefusedWithWarning) {
    const std::string text = GetParam();
    EXPECT_EQ(ctx_->addDevice(text, ""), 1);
    EXPECT_EQ(ctx_->removeDevice(text), 1);
    EXPECT_EQ(ctx_->setCaptureDevice(text, "x"), 1);
    ctx_->setOutputVolume(text, 50);
    ctx_->setOutputVolumeAll(50);
    EXPECT_TRUE(logged("'" + text + "' is not a valid ip address"));
    EXPECT_TRUE(ctx_->devices().empty());
    EXPECT_EQ(ctx_->captureDev().ip, pelzo::kLoopbackHost);
    EXPECT_EQ(PelzoDevRegistry::instance().find(0xFFFFFFFFu), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Texts, PelzoCtxAddressTest,
                         ::testing::Values("192.168.1.300", "255.255.255.255", "", "127.1",
                                           "0x7f.0.0.1", "127.0.0.1 ", "host"));

TEST_F(PelzoCtxTest, SecondAddKeepsPassword) {
    simpelzo::Terminal& t = startTerminal();
    const uint32_t ip = ipOf(addressOf(t));
    ASSERT_EQ(ctx_->addDevice(addressOf(t), ""), 0);
    EXPECT_EQ(ctx_->devices().at(ip)->password, "574213");
    ASSERT_EQ(ctx_->addDevice(addressOf(t), "changed"), 0);
    EXPECT_EQ(ctx_->devices().at(ip)->password, "574213");
    logIn(t); // the terminal's default password still matches
    EXPECT_EQ(events_.back(), Event(ip, 200, ""));

    // Removal keeps the record; the terminal is a stranger again.
    ASSERT_EQ(ctx_->removeDevice(addressOf(t)), 0);
    EXPECT_EQ(ctx_->removeDevice(addressOf(t)), 0);
    EXPECT_NE(PelzoDevRegistry::instance().find(ip), nullptr);
    const int tokens = t.state().loginsAccepted + t.state().loginsRefused;
    t.sendChallenge();
    barrier(t);
    EXPECT_EQ(t.state().loginsAccepted + t.state().loginsRefused, tokens);
}

TEST_F(PelzoCtxTest, RecordsAreSharedBetweenContexts) {
    const std::string address = nextAddress();
    ASSERT_EQ(ctx_->addDevice(address, "first"), 0);
    PelzoContext second;
    ASSERT_EQ(second.addDevice(address, "second"), 0);
    // The second context names the same record and sets its password.
    EXPECT_EQ(second.devices().at(ipOf(address)), ctx_->devices().at(ipOf(address)));
    EXPECT_EQ(ctx_->devices().at(ipOf(address))->password, "second");
}

TEST(PelzoCtxNoSocket, OperationsDoNothingAndTheReasonIsLoggedOnce) {
    std::vector<std::string> lines;
    std::mutex m;
    lumo::Logger::defaultLogger().setSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(m);
        lines.push_back(line);
    });
    lumo::EventLoopImpl::current(); // the loop itself may need descriptors
    // No descriptor left for the socket.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int probe = ::dup(0);
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(probe);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    auto ctx = std::make_unique<PelzoContext>();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);

    EXPECT_FALSE(ctx->hasSocket());
    EXPECT_EQ(ctx->port(), 0);
    const std::string address = nextAddress();
    EXPECT_EQ(ctx->addDevice(address, ""), 0);
    EXPECT_EQ(ctx->setCaptureDevice(address, "pw"), 0);
    EXPECT_EQ(ctx->startCapture(48000), 0);
    ctx->stopCapture();
    ctx->setInputVolume(10);
    ctx->setOutputVolume(address, 10);
    ctx->setOutputVolumeAll(10);
    ctx->keepalivePass();
    ctx.reset();
    lumo::Logger::defaultLogger().setSink({});

    int failures = 0;
    for (const auto& l : lines)
        failures += l.find("failed to create udp socket: ") != std::string::npos;
    EXPECT_EQ(failures, 1);
}

} // namespace
